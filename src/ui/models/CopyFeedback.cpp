#include "CopyFeedback.h"

#include <QTimer>

namespace Wardlamp {

CopyFeedback::CopyFeedback(std::chrono::milliseconds delay, QObject* parent)
    : QObject(parent)
    , m_delay(delay)
{
}

void CopyFeedback::copy()
{
    setCopied(true);
    QTimer::singleShot(m_delay, this, [this] { setCopied(false); });
}

void CopyFeedback::setCopied(bool copied)
{
    if (copied == m_copied)
        return;
    m_copied = copied;
    Q_EMIT copiedChanged(copied);
}

} // namespace Wardlamp
