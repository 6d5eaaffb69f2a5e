#include "ConnectionWatch.h"

#include <sys/socket.h>

struct ConnectionWatch::Entry {
    int fd = -1;
    bool working = false;
    bool ended = false;
    ConnectionWatch::Clock::time_point deadline;
};

ConnectionWatch::ConnectionWatch(int headSeconds, int bodySeconds)
    : m_head(std::max(1, headSeconds))
    , m_body(std::max(1, bodySeconds))
    , m_thread([this] { run(); })
{ }

ConnectionWatch::~ConnectionWatch()
{
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    m_thread.join();
    for (Entry *entry : m_entries)
        delete entry;
}

ConnectionWatch::Entry *ConnectionWatch::opened(int fd)
{
    auto *entry = new Entry{fd, false, false, Clock::now() + m_head};
    std::lock_guard lock(m_mutex);
    m_entries.insert(entry);
    return entry;
}

void ConnectionWatch::closed(Entry *entry)
{
    if (!entry)
        return;
    std::lock_guard lock(m_mutex);
    m_entries.erase(entry);
    delete entry;
}

void ConnectionWatch::headReceived(Entry *entry)
{
    if (!entry)
        return;
    std::lock_guard lock(m_mutex);
    entry->deadline = Clock::now() + m_body;
}

void ConnectionWatch::working(Entry *entry)
{
    if (!entry)
        return;
    std::lock_guard lock(m_mutex);
    entry->working = true;
}

void ConnectionWatch::replied(Entry *entry)
{
    if (!entry)
        return;
    std::lock_guard lock(m_mutex);
    entry->working = false;
    entry->deadline = Clock::now() + m_head;
}

void ConnectionWatch::run()
{
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        m_wake.wait_for(lock, std::chrono::milliseconds(250));
        const auto now = Clock::now();
        for (Entry *entry : m_entries) {
            if (!entry->working && !entry->ended && entry->deadline <= now) {
                // The socket stays open (the library owns it) until the library closes it.
                ::shutdown(entry->fd, SHUT_RDWR);
                entry->ended = true;
            }
        }
    }
}
