#include "TrayIconChoice.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

TrayIconKind TrayIconChoice::choose(bool anyError, bool anyRunning)
{
    if (anyError)
        return TrayIconKind::error;
    if (anyRunning)
        return TrayIconKind::running;
    return TrayIconKind::idle;
}

QString TrayIconChoice::themeName(TrayIconKind kind)
{
    switch (kind) {
    case TrayIconKind::idle:
        return u"wardlamp-idle"_s;
    case TrayIconKind::running:
        return u"wardlamp-running"_s;
    case TrayIconKind::error:
        return u"wardlamp-error"_s;
    }
    return u"wardlamp-idle"_s;
}

QString TrayIconChoice::resourcePath(TrayIconKind kind)
{
    return u":/icons/"_s + themeName(kind) + u".svg"_s;
}

QString TrayIconChoice::description(TrayIconKind kind, int runningCount)
{
    switch (kind) {
    case TrayIconKind::error:
        return u"A server reported an error"_s;
    case TrayIconKind::running:
        return QString::number(runningCount) + u" running"_s;
    case TrayIconKind::idle:
        break;
    }
    return u"No server running"_s;
}

} // namespace Wardlamp
