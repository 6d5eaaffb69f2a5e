#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <unordered_set>

// Ends connections that send a request too slowly. A client has `headSeconds` from connecting
// (or from its previous reply) to send a whole request head, and `bodySeconds` more for the
// body; a request the service is working on has no deadline. The connection is shut down
// under the HTTP library, which then sees it end and closes it as usual.
class ConnectionWatch final
{
public:
    struct Entry;

    ConnectionWatch(int headSeconds, int bodySeconds);
    ~ConnectionWatch();
    ConnectionWatch(const ConnectionWatch &) = delete;
    ConnectionWatch &operator=(const ConnectionWatch &) = delete;

    Entry *opened(int fd);
    void closed(Entry *entry);
    void headReceived(Entry *entry);
    void working(Entry *entry);
    // The reply went out: the next request's head is due within headSeconds.
    void replied(Entry *entry);

private:
    using Clock = std::chrono::steady_clock;
    void run();

    std::chrono::seconds m_head;
    std::chrono::seconds m_body;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::unordered_set<Entry *> m_entries;
    std::thread m_thread;
};
