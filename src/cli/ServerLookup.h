#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

namespace Wardlamp {

// Finds the server a user named on a command line: by id (any case, braces
// allowed), else by exact name, else by name ignoring case; a name that fits
// more than one server is refused rather than guessed. Shared by wardlampd's
// verbs and wardlamp-remote, so a name means the same server to both. Pure.
class ServerLookup {
public:
    enum class Problem { notFound, ambiguous };

    struct Candidate {
        QUuid id;
        QString name;
    };

    struct Result {
        std::optional<qsizetype> index; // into the list searched
        std::optional<Problem> problem;
        QStringList candidates; // ambiguous: the ids (upper-case text) that matched
    };

    static Result find(const QList<Candidate>& servers, const QString& text);

    // The same over any records with `id` and `name`.
    template <typename Server> static Result find(const QList<Server>& servers, const QString& text)
    {
        QList<Candidate> candidates;
        candidates.reserve(servers.size());
        for (const Server& server : servers)
            candidates.append({ server.id, server.name });
        return find(candidates, text);
    }

    // One line for a failed lookup: "\"web\" names more than one server; use
    // one of the ids: …" or "no server \"web\"; the servers: a, b".
    static QString describe(const Result& result, const QString& text, const QStringList& names);
};

} // namespace Wardlamp
