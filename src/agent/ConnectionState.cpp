#include "ConnectionState.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString ConnectionState::describe() const
{
    switch (kind) {
    case Kind::error:
        return errorText;
    case Kind::off:
        return u"Off"_s;
    case Kind::connecting:
        return u"Connecting…"_s;
    case Kind::online:
        return u"Online"_s;
    case Kind::controllerConnected:
        return u"Controller connected"_s;
    }
    return QString();
}

} // namespace Wardlamp
