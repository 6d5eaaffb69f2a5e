#include "platform/Pasteboard.h"

#include "platform/MemoryPasteboard.h"

#include <QMutex>
#include <QMutexLocker>

namespace {

struct General {
    QMutex mutex;
    std::unique_ptr<Pasteboard> pasteboard;
};

// Lives as long as the process: the capture keeps a reference to the pasteboard until exit.
General &general()
{
    static auto *instance = new General;
    return *instance;
}

} // namespace

Pasteboard &Pasteboard::general()
{
    General &slot = ::general();
    QMutexLocker lock(&slot.mutex);
    if (!slot.pasteboard)
        slot.pasteboard = std::make_unique<MemoryPasteboard>();
    return *slot.pasteboard;
}

void Pasteboard::setGeneral(std::unique_ptr<Pasteboard> pasteboard)
{
    General &slot = ::general();
    QMutexLocker lock(&slot.mutex);
    slot.pasteboard = std::move(pasteboard);
}

int Pasteboard::addChangeHandler(ChangeHandler handler)
{
    const int id = m_nextHandlerId++;
    m_changeHandlers.emplace(id, std::move(handler));
    return id;
}

void Pasteboard::removeChangeHandler(int id)
{
    m_changeHandlers.erase(id);
}

void Pasteboard::reportChange()
{
    // A copy, so that a handler may add or remove handlers.
    const std::map<int, ChangeHandler> handlers = m_changeHandlers;
    for (const auto &[id, handler] : handlers) {
        if (handler)
            handler();
    }
}
