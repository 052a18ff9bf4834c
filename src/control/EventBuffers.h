#pragma once

#include <QByteArray>

#include <chrono>
#include <vector>

namespace Wardlamp {

// Memory for the encoded batches of followed logs. A batch goes to every
// follower of its server as one shared QByteArray; once none of them holds it
// any more (sent, or dropped for a follower that fell behind), a later batch
// is written over its memory. Fresh memory for each batch cost more than
// encoding it when a hundred followers held different batches: every page
// was faulted in and zeroed again, and freed ones unmapped.
//
// Main thread. Arrays are released by the control writer's thread; the
// acquire fence in take() orders its last reads before our writes.
class EventBuffers {
public:
    // At most this many are kept, …
    static constexpr std::size_t maxKept = 12;
    // … none larger than this (a flood's batches reach 10–15 MB of JSON) …
    static constexpr qsizetype maxKeptBytes = 32 * 1024 * 1024;
    // … and no more than this in all (checked before an array grows).
    static constexpr qsizetype maxKeptTotalBytes = 128 * 1024 * 1024;
    // A free array not taken for this long is let go: after a flood, a
    // trickle of small batches uses one array, not the flood's dozen.
    static constexpr std::chrono::milliseconds defaultUnusedFor { 2000 };

    explicit EventBuffers(std::chrono::milliseconds unusedFor = defaultUnusedFor);

    // An array that no one else holds, to write a batch over. Hand out a copy
    // of it (share it) once written; it is kept for later batches when there is
    // room, so write into the reference returned.
    QByteArray& take();
    // Forgets every array: those still held elsewhere go when their holders
    // let go. For a quiet spell, or when no one follows any more.
    void release();

    std::size_t kept() const { return m_kept.size(); }

private:
    using Clock = std::chrono::steady_clock;
    struct Kept {
        QByteArray array;
        Clock::time_point taken;
    };

    const std::chrono::milliseconds m_unusedFor;
    std::vector<Kept> m_kept;
    QByteArray m_unkept; // taken when none was free and there was no room
};

} // namespace Wardlamp
