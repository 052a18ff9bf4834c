#include "LogLineText.h"

#include <QDateTime>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString LogLineText::format(const QDateTime& date, bool isError, const QString& text)
{
    return date.toLocalTime().toString(u"HH:mm:ss"_s) + (isError ? u"! "_s : u"  "_s) + text;
}

} // namespace Wardlamp
