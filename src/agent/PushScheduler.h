#pragma once

#include <QObject>
#include <QTimer>

#include <chrono>

namespace Wardlamp {

// Coalesces change notifications into pushes: a push runs `trailing` after the
// last change, but never later than `maxDelay` after the first change that is
// still waiting, so a steady stream of changes spaced under `trailing` still
// pushes regularly. cancel() forgets what is waiting.
// Main thread; owned by the agent.
class PushScheduler : public QObject {
    Q_OBJECT

public:
    PushScheduler(std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay, QObject* parent = nullptr);

    void schedule();
    void cancel();
    bool isPending() const { return m_trailing.isActive(); }

Q_SIGNALS:
    void due();

private:
    void fire();

    QTimer m_trailing;
    QTimer m_deadline;
};

} // namespace Wardlamp
