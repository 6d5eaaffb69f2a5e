#pragma once

#include <QHash>
#include <QString>

#include <chrono>
#include <mutex>

// Counts the requests of each client address that were refused as bad (HTTP 4xx) in the
// current second. Past `perSecond` of them, the address's further requests are held and let
// through at that rate from the next second on: a client that floods the service with bad
// input gets its answers at that rate, and the service's time stays with everyone else.
class AbuseMeter final
{
public:
    using Clock = std::chrono::steady_clock;

    explicit AbuseMeter(int perSecond);

    void recordBad(const QString &address);
    // When the address's next request may be answered; a past time when at once.
    Clock::time_point answerAt(const QString &address);

private:
    struct Window {
        Clock::time_point start;
        int bad = 0;
        Clock::time_point nextSlot; // when the next held request may be answered
    };
    std::mutex m_mutex;
    QHash<QString, Window> m_windows;
    int m_perSecond;
};
