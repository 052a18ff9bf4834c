#include "ServerLookup.h"

#include <QUuid>

namespace Wardlamp {

ServerLookup::Result ServerLookup::find(const QList<WireServer>& servers, const QString& text)
{
    const QString wanted = text.trimmed();
    const QUuid id = QUuid::fromString(wanted);
    if (!id.isNull()) {
        for (const WireServer& server : servers) {
            if (server.id == id)
                return { server, std::nullopt, {} };
        }
    }
    for (const Qt::CaseSensitivity sensitivity : { Qt::CaseSensitive, Qt::CaseInsensitive }) {
        QList<WireServer> matches;
        for (const WireServer& server : servers) {
            if (server.name.compare(wanted, sensitivity) == 0)
                matches.append(server);
        }
        if (matches.size() == 1)
            return { matches.first(), std::nullopt, {} };
        if (matches.size() > 1) {
            Result result { std::nullopt, Problem::ambiguous, {} };
            for (const WireServer& server : matches)
                result.candidates.append(server.id.toString(QUuid::WithoutBraces).toUpper());
            return result;
        }
    }
    return { std::nullopt, Problem::notFound, {} };
}

} // namespace Wardlamp
