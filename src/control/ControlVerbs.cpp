#include "ControlVerbs.h"

#include "control/ControlCall.h"

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

void ControlVerbs::add(const QString& verb, Handler handler)
{
    m_handlers.insert(verb, std::move(handler));
}

void ControlVerbs::remove(const QString& verb)
{
    m_handlers.remove(verb);
}

QStringList ControlVerbs::names() const
{
    QStringList names = m_handlers.keys();
    std::sort(names.begin(), names.end());
    return names;
}

void ControlVerbs::dispatch(ControlCall& call) const
{
    const auto it = m_handlers.constFind(call.verb());
    if (it == m_handlers.cend()) {
        call.fail(ControlErrorCode::unknownVerb,
            u"\"%1\" is not a verb of this supervisor (it knows: %2)"_s.arg(call.verb(), names().join(u", "_s)));
        return;
    }
    // A copy: the handler may change the table (a plugin adding its verbs).
    const Handler handler = *it;
    handler(call);
}

} // namespace Wardlamp
