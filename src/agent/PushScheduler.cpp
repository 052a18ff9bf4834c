#include "PushScheduler.h"

namespace Wardlamp {

PushScheduler::PushScheduler(std::chrono::milliseconds trailing, std::chrono::milliseconds maxDelay, QObject* parent)
    : QObject(parent)
{
    m_trailing.setSingleShot(true);
    m_trailing.setTimerType(Qt::PreciseTimer);
    m_trailing.setInterval(trailing);
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    m_deadline.setInterval(std::max(maxDelay, trailing));
    connect(&m_trailing, &QTimer::timeout, this, &PushScheduler::fire);
    connect(&m_deadline, &QTimer::timeout, this, &PushScheduler::fire);
}

void PushScheduler::schedule()
{
    m_trailing.start();
    if (!m_deadline.isActive())
        m_deadline.start();
}

void PushScheduler::cancel()
{
    m_trailing.stop();
    m_deadline.stop();
}

void PushScheduler::fire()
{
    cancel();
    Q_EMIT due();
}

} // namespace Wardlamp
