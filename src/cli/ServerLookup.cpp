#include "ServerLookup.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

ServerLookup::Result ServerLookup::find(const QList<Candidate>& servers, const QString& text)
{
    const QString wanted = text.trimmed();
    const QUuid id = QUuid::fromString(wanted);
    if (!id.isNull()) {
        for (qsizetype i = 0; i < servers.size(); ++i) {
            if (servers[i].id == id)
                return { i, std::nullopt, {} };
        }
    }
    for (const Qt::CaseSensitivity sensitivity : { Qt::CaseSensitive, Qt::CaseInsensitive }) {
        QList<qsizetype> matches;
        for (qsizetype i = 0; i < servers.size(); ++i) {
            if (servers[i].name.compare(wanted, sensitivity) == 0)
                matches.append(i);
        }
        if (matches.size() == 1)
            return { matches.first(), std::nullopt, {} };
        if (matches.size() > 1) {
            Result result { std::nullopt, Problem::ambiguous, {} };
            for (const qsizetype match : matches)
                result.candidates.append(servers[match].id.toString(QUuid::WithoutBraces).toUpper());
            return result;
        }
    }
    return { std::nullopt, Problem::notFound, {} };
}

QString ServerLookup::describe(const Result& result, const QString& text, const QStringList& names)
{
    if (result.problem == Problem::ambiguous)
        return u"\"%1\" names more than one server; use one of the ids: %2"_s.arg(
            text, result.candidates.join(u", "_s));
    return u"no server \"%1\"; the servers: %2"_s.arg(text, names.isEmpty() ? u"none"_s : names.join(u", "_s));
}

} // namespace Wardlamp
