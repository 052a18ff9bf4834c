#pragma once

#include <QtGlobal>

#include <chrono>

namespace Wardlamp {

// How many bytes of followed logs the control socket's writer may send just
// now, summed over every follower.
//
// A batch sent to a follower is copied twice (into its socket, and out of it
// by the follower's process), and on a small machine those copies take the
// cores the supervisor and its servers need. While a followed server floods,
// a hundred followers would copy a hundred times what it writes, and slow the
// very ingestion they watch. So while batches keep coming (a flood), the
// followers together send at most floodBytesPerSecond, taking turns, and what
// waits piles up in their outboxes (whose oldest lines go first when full).
// Once no batch has come for `quietAfter`, there is no limit: the followers
// catch up on the newest lines. The rate is far above what a server's
// ordinary output comes to: a line every millisecond to twenty followers is
// about 3 MB/s.
//
// Pure: the time is passed in. Owner: the control writer's thread.
class FollowerBudget {
public:
    using Clock = std::chrono::steady_clock;

    // What all followers together may send a second during a flood …
    static constexpr qint64 floodBytesPerSecond = 32 * 1024 * 1024;
    // … and what may be saved up to send at once.
    static constexpr qint64 maxSavedBytes = 1024 * 1024;
    // A flood is over once no batch has come for this long.
    static constexpr std::chrono::milliseconds quietAfter { 50 };

    // `batchesCame`: lines were queued for a follower since the last update.
    void update(Clock::time_point now, bool batchesCame);
    // Whether the followers are held to available() (a flood is on).
    bool limited() const { return m_limited; }
    qint64 available() const { return m_available; }
    void spend(qint64 bytes) { m_available -= bytes; }

private:
    Clock::time_point m_updated {};
    Clock::time_point m_lastBatch {};
    qint64 m_available = maxSavedBytes;
    bool m_limited = false;
};

} // namespace Wardlamp
