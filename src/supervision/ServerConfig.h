#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>
#include <QUrl>
#include <QUuid>

#include <optional>

namespace Wardlamp {

// One configured server: a command line run through the login shell, with its
// working directory and flags. A plain value; the runtime side (process, status,
// log) lives in ServerManager, keyed by `id`.
//
// JSON form (the persisted list, WL_SEED_SERVERS and `wardlampd --servers`): an
// object with "id" (canonical UUID text, written upper case), "name", "command",
// "autostart", "errorAlertEnabled" (all required), "restartOnCrash" (absent or
// null reads as false), "directory" and "tunnelHostname" (absent or null reads as
// absent, never written as null). Unknown keys are ignored on reading.
struct ServerConfig {
    QUuid id;
    QString name;
    QString command;
    std::optional<QString> directory;
    bool autostart = false;
    bool errorAlertEnabled = false;
    bool restartOnCrash = false;
    std::optional<QString> tunnelHostname;

    // The https address of the tunnel host name, or nothing when there is no
    // usable host name in it.
    std::optional<QUrl> tunnelURL() const;

    QJsonObject toJson() const;
    // Reads one record, or says which key is wrong ("\"autostart\" is missing
    // or not a boolean").
    static Expected<ServerConfig, QString> fromJson(const QJsonValue& value);

    // The JSON array form used by the persisted list, WL_SEED_SERVERS and
    // wardlampd --servers. Written compactly.
    static QByteArray encodeList(const QList<ServerConfig>& servers);
    // All or nothing: one bad record fails the whole list, with one line
    // naming the problem and the record, counted from 1 ("record 2: ...").
    static Expected<QList<ServerConfig>, QString> decodeList(QByteArrayView json);

    // Every server needs an id of its own: with two records of one id (in any
    // case of its text) the second would never run and its name would label
    // the first's lines. One line naming the first two records that share an
    // id ("records 1 ("api") and 3 ("web") have the same id …"), or nothing.
    static std::optional<QString> duplicateIds(const QList<ServerConfig>& servers);
    // Keeps the first record of each id; one line for each record dropped.
    static QStringList dropDuplicateIds(QList<ServerConfig>& servers);

    friend bool operator==(const ServerConfig&, const ServerConfig&) = default;
};

// The canonical 36-character upper-case text of a UUID, without braces.
QString uuidText(const QUuid& id);

// Strict 8-4-4-4-12 hexadecimal text (either case), no braces, no surrounding
// space; anything else is nothing.
std::optional<QUuid> parseUuid(QStringView text);

} // namespace Wardlamp
