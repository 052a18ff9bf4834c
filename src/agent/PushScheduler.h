#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>
#include <optional>

namespace Wardlamp {

// Coalesces change notifications into pushes: a push runs `trailing` after the
// last change, but never later than `maxDelay` after the first change that is
// still waiting, so a steady stream of changes spaced under `trailing` still
// pushes regularly. cancel() forgets what is waiting.
// Main thread; owned by the agent.
class PushScheduler : public QObject {
    Q_OBJECT

public:
    using Clock = std::chrono::steady_clock;

    PushScheduler(std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay, QObject* parent = nullptr);

    // When the push is due: `trailing` after the latest change, or `maxDelay`
    // (at least `trailing`) after the first one still waiting, whichever is
    // earlier.
    static Clock::time_point dueAt(Clock::time_point firstWaiting, Clock::time_point latest,
        std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay);

    void schedule();
    void cancel();
    bool isPending() const { return m_timer.isActive(); }

Q_SIGNALS:
    void due();

private:
    void fire();

    std::chrono::milliseconds m_trailing;
    std::chrono::milliseconds m_maxDelay;
    std::optional<Clock::time_point> m_firstWaiting;
    QTimer m_timer;
};

} // namespace Wardlamp
