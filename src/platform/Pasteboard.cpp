#include "platform/Pasteboard.h"

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
