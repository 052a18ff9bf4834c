#include "WindowFacts.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

WindowFacts WindowFacts::of(WindowId window)
{
    switch (window) {
    case WindowId::logs:
        return { u"logs"_s, u"Server Logs"_s, QSize(760, 480) };
    case WindowId::settings:
        break;
    }
    return { u"settings"_s, u"Wardlamp Settings"_s, QSize(680, 480) };
}

} // namespace Wardlamp
