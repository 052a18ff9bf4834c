#pragma once

#include <QtGlobal>

#include <chrono>
#include <optional>

namespace Wardlamp {

// How many bytes of followed logs the control socket's writer may send just
// now, summed over every follower.
//
// A batch sent to a follower is copied twice (into its socket, and out of it
// by the follower's process), and on a small machine those copies take the
// cores the supervisor and its servers need. While a followed server floods,
// a hundred followers would copy a hundred times what it writes, and slow the
// very ingestion they watch. So while lines keep coming to more than one
// follower (more than one was queued lines within `quietAfter`), the
// followers together send at most floodBytesPerSecond, plus maxSavedBytes at
// the start, taking turns; what waits piles up in their outboxes (whose
// oldest lines go first when full). Once that is over there is no limit: the
// followers catch up on the newest lines. A lone follower is never held back:
// it costs no more than the batches themselves. The rate is far above a
// server's ordinary output: a line every millisecond to twenty followers is
// about 3 MB/s.
//
// Pure: the time is passed in. Owner: the control writer's thread.
class FollowerBudget {
public:
    using Clock = std::chrono::steady_clock;

    // What all followers together may send a second during a flood …
    static constexpr qint64 floodBytesPerSecond = 32 * 1024 * 1024;
    // … and what may be sent at once, at the start or after a pause.
    static constexpr qint64 maxSavedBytes = 1024 * 1024;
    // A follower counts as fed for this long after it was last queued lines.
    static constexpr std::chrono::milliseconds quietAfter { 50 };

    // `followersFed`: how many followers were queued lines within the last
    // `quietAfter`.
    void update(Clock::time_point now, int followersFed);
    // Whether the followers are held to available() (a shared flood is on).
    bool limited() const { return m_limited; }
    qint64 available() const { return m_available; }
    void spend(qint64 bytes) { m_available -= bytes; }

    // One follower as the writer sees it, round by round: fed while lines
    // were queued for it within the last `quietAfter`.
    class Feed {
    public:
        // `pushed`: its outbox's droppablePushed() now.
        bool fedRecently(quint64 pushed, Clock::time_point now);

    private:
        quint64 m_seenPushed = 0;
        std::optional<Clock::time_point> m_lastFed; // when m_seenPushed last changed
    };

private:
    Clock::time_point m_updated {};
    qint64 m_available = maxSavedBytes;
    bool m_limited = false;
};

} // namespace Wardlamp
