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
