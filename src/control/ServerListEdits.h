#pragma once

#include "common/Expected.h"
#include "control/ControlProtocol.h"
#include "supervision/ServerConfig.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Wardlamp {

// The rules for changing a server list from a front door (add, edit, remove,
// import), as pure functions from the list before to the list after, so that
// a supervisor and a front door editing the saved settings apply the same
// rules, and tables test them. Nothing here touches a store or a process.
//
// Names are unique ignoring case (so that a name always finds one server)
// and hold no control characters; a command is never blank; a directory that
// does not exist is accepted with a warning, as the settings window does.
class ServerListEdits {
public:
    // What an edit made of the list, and what the user should hear about it.
    struct Outcome {
        QList<ServerConfig> servers; // the whole list after the edit
        ServerConfig server; // the record added, changed or removed
        QStringList warnings;
    };

    struct ImportOutcome {
        QList<ServerConfig> servers;
        QStringList added;
        QStringList replaced;
        QStringList removed; // with `replace`: those the file does not hold
    };

    // Answers whether a directory exists (after a leading "~" is expanded).
    using DirectoryCheck = std::function<bool(const QString& directory)>;

    // args: "name", "command" (required), "directory", "autostart",
    // "restartOnCrash", "errorAlertEnabled", "tunnelHostname".
    static Expected<Outcome, ControlError> add(
        const QList<ServerConfig>& servers, const QJsonObject& args, const DirectoryCheck& directoryExists);
    // args: "server" (id or name), then any of the fields of add; "directory"
    // or "tunnelHostname" null removes them.
    static Expected<Outcome, ControlError> edit(
        const QList<ServerConfig>& servers, const QJsonObject& args, const DirectoryCheck& directoryExists);
    // args: "server".
    static Expected<Outcome, ControlError> remove(const QList<ServerConfig>& servers, const QJsonObject& args);
    // The JSON array of servers (all or nothing: one bad record, and nothing
    // changes); a record whose id is in the list replaces it, the others are
    // added; with `replace` the list becomes the file's.
    static Expected<ImportOutcome, ControlError> import(
        const QList<ServerConfig>& servers, QByteArrayView json, bool replace);

    // The server a front door named ("server" argument), by the rules of ServerLookup.
    static Expected<qsizetype, ControlError> find(const QList<ServerConfig>& servers, const QString& text);

    // A directory as a server would use it: a leading "~" or "~/" is the home folder.
    static QString expandHome(const QString& directory, const QString& home);
};

} // namespace Wardlamp
