#pragma once

#include "remotekit/WireServer.h"

#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp {

// Finds the server a user named on the command line: by id (any case, braces
// allowed), else by exact name, else by name ignoring case; a name that fits more
// than one server is refused rather than guessed. Pure.
class ServerLookup {
public:
    enum class Problem { notFound, ambiguous };

    struct Result {
        std::optional<WireServer> server;
        std::optional<Problem> problem;
        QStringList candidates; // ambiguous: the ids that matched
    };

    static Result find(const QList<WireServer>& servers, const QString& text);
};

} // namespace Wardlamp
