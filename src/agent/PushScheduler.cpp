#include "PushScheduler.h"

namespace Wardlamp {

PushScheduler::PushScheduler(std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay, QObject* parent)
    : QObject(parent)
    , m_trailing(trailing)
    , m_maxDelay(maxDelay)
{
    m_timer.setSingleShot(true);
    m_timer.setTimerType(Qt::PreciseTimer);
    connect(&m_timer, &QTimer::timeout, this, &PushScheduler::fire);
}

PushScheduler::Clock::time_point PushScheduler::dueAt(Clock::time_point firstWaiting, Clock::time_point latest,
    std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay)
{
    return std::min(latest + trailing, firstWaiting + std::max(maxDelay, trailing));
}

void PushScheduler::schedule()
{
    const Clock::time_point now = Clock::now();
    if (!m_firstWaiting)
        m_firstWaiting = now;
    const auto wait = dueAt(*m_firstWaiting, now, m_trailing, m_maxDelay) - now;
    m_timer.start(std::max(std::chrono::milliseconds(0), std::chrono::ceil<std::chrono::milliseconds>(wait)));
}

void PushScheduler::cancel()
{
    m_timer.stop();
    m_firstWaiting.reset();
}

void PushScheduler::fire()
{
    cancel();
    Q_EMIT due();
}

} // namespace Wardlamp
