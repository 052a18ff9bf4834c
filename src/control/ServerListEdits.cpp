#include "ServerListEdits.h"

#include "cli/ServerLookup.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

ControlError badArguments(const QString& message)
{
    return { ControlErrorCode::badArguments, message };
}

bool isBlank(const QString& text)
{
    for (const QChar c : text) {
        if (c != u' ' && c != u'\t')
            return false;
    }
    return true;
}

QStringList namesOf(const QList<ServerConfig>& servers)
{
    QStringList names;
    for (const ServerConfig& server : servers)
        names.append(server.name);
    return names;
}

// The name's own problems, and a clash with another server's (ignoring case).
std::optional<ControlError> checkName(const QString& name, const QList<ServerConfig>& servers, qsizetype self)
{
    if (name.trimmed().isEmpty())
        return badArguments(u"a server needs a name"_s);
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control)
            return badArguments(u"a server's name cannot hold control characters (line breaks, tabs, escapes)"_s);
    }
    for (qsizetype i = 0; i < servers.size(); ++i) {
        if (i != self && servers[i].name.compare(name, Qt::CaseInsensitive) == 0)
            return ControlError { ControlErrorCode::conflict,
                u"a server named \"%1\" already exists (%2)"_s.arg(servers[i].name, uuidText(servers[i].id)) };
    }
    return std::nullopt;
}

// Reads an optional typed argument into `out`; a value of another type is an error.
std::optional<ControlError> readString(const QJsonObject& args, QLatin1StringView key, std::optional<QString>& out)
{
    const QJsonValue value = args.value(key);
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isString())
        return badArguments(u"\"%1\" must be text"_s.arg(key));
    out = value.toString();
    return std::nullopt;
}

std::optional<ControlError> readFlag(const QJsonObject& args, QLatin1StringView key, bool& out)
{
    const QJsonValue value = args.value(key);
    if (value.isUndefined())
        return std::nullopt;
    if (!value.isBool())
        return badArguments(u"\"%1\" must be true or false"_s.arg(key));
    out = value.toBool();
    return std::nullopt;
}

// "directory" and "tunnelHostname": text sets them, null removes them.
std::optional<ControlError> readClearable(const QJsonObject& args, QLatin1StringView key, std::optional<QString>& field)
{
    const QJsonValue value = args.value(key);
    if (value.isUndefined())
        return std::nullopt;
    if (value.isNull()) {
        field.reset();
        return std::nullopt;
    }
    if (!value.isString())
        return badArguments(u"\"%1\" must be text or null"_s.arg(key));
    field = value.toString();
    if (field->isEmpty())
        field.reset();
    return std::nullopt;
}

QStringList directoryWarnings(const ServerConfig& server, const ServerListEdits::DirectoryCheck& directoryExists)
{
    if (!server.directory || server.directory->isEmpty() || !directoryExists || directoryExists(*server.directory))
        return {};
    return { u"the directory %1 does not exist (yet); \"%2\" cannot start until it does"_s.arg(
        *server.directory, server.name) };
}

// Reads every field an add or an edit may set, onto `server`.
std::optional<ControlError> applyFields(const QJsonObject& args, ServerConfig& server)
{
    std::optional<QString> name;
    std::optional<QString> command;
    if (auto problem = readString(args, QLatin1StringView("name"), name))
        return problem;
    if (auto problem = readString(args, QLatin1StringView("command"), command))
        return problem;
    if (name)
        server.name = *name;
    if (command)
        server.command = *command;
    for (auto [key, field] : { std::pair { QLatin1StringView("directory"), &ServerConfig::directory },
             std::pair { QLatin1StringView("tunnelHostname"), &ServerConfig::tunnelHostname } }) {
        if (auto problem = readClearable(args, key, server.*field))
            return problem;
    }
    for (auto [key, field] : { std::pair { QLatin1StringView("autostart"), &ServerConfig::autostart },
             std::pair { QLatin1StringView("restartOnCrash"), &ServerConfig::restartOnCrash },
             std::pair { QLatin1StringView("errorAlertEnabled"), &ServerConfig::errorAlertEnabled } }) {
        if (auto problem = readFlag(args, key, server.*field))
            return problem;
    }
    return std::nullopt;
}

} // namespace

QString ServerListEdits::expandHome(const QString& directory, const QString& home)
{
    if (directory == u"~"_s)
        return home;
    if (directory.startsWith(u"~/"_s))
        return home + directory.mid(1);
    return directory;
}

Expected<qsizetype, ControlError> ServerListEdits::find(const QList<ServerConfig>& servers, const QString& text)
{
    const ServerLookup::Result found = ServerLookup::find(servers, text);
    if (found.index)
        return *found.index;
    return ControlError { found.problem == ServerLookup::Problem::ambiguous ? ControlErrorCode::ambiguous
                                                                            : ControlErrorCode::notFound,
        ServerLookup::describe(found, text, namesOf(servers)) };
}

Expected<ServerListEdits::Outcome, ControlError> ServerListEdits::add(
    const QList<ServerConfig>& servers, const QJsonObject& args, const DirectoryCheck& directoryExists)
{
    if (!args.value(QLatin1StringView("name")).isString())
        return badArguments(u"a server needs a name"_s);
    if (!args.value(QLatin1StringView("command")).isString())
        return badArguments(u"a server needs a command"_s);
    ServerConfig server;
    server.id = QUuid::createUuid();
    if (auto problem = applyFields(args, server))
        return *problem;
    if (auto problem = checkName(server.name, servers, -1))
        return *problem;
    if (isBlank(server.command))
        return badArguments(u"the command is empty"_s);
    Outcome outcome;
    outcome.servers = servers;
    outcome.servers.append(server);
    outcome.server = server;
    outcome.warnings = directoryWarnings(server, directoryExists);
    return outcome;
}

Expected<ServerListEdits::Outcome, ControlError> ServerListEdits::edit(
    const QList<ServerConfig>& servers, const QJsonObject& args, const DirectoryCheck& directoryExists)
{
    const Expected<qsizetype, ControlError> index = find(servers, args.value(QLatin1StringView("server")).toString());
    if (!index)
        return index.error();
    ServerConfig server = servers.at(*index);
    if (auto problem = applyFields(args, server))
        return *problem;
    if (server.name != servers.at(*index).name) {
        if (auto problem = checkName(server.name, servers, *index))
            return *problem;
    }
    if (server.command != servers.at(*index).command && isBlank(server.command))
        return badArguments(u"the command is empty"_s);
    Outcome outcome;
    outcome.servers = servers;
    outcome.servers[*index] = server;
    outcome.server = server;
    if (server.directory != servers.at(*index).directory)
        outcome.warnings = directoryWarnings(server, directoryExists);
    return outcome;
}

Expected<ServerListEdits::Outcome, ControlError> ServerListEdits::remove(
    const QList<ServerConfig>& servers, const QJsonObject& args)
{
    const Expected<qsizetype, ControlError> index = find(servers, args.value(QLatin1StringView("server")).toString());
    if (!index)
        return index.error();
    Outcome outcome;
    outcome.server = servers.at(*index);
    outcome.servers = servers;
    outcome.servers.removeAt(*index);
    return outcome;
}

Expected<ServerListEdits::ImportOutcome, ControlError> ServerListEdits::import(
    const QList<ServerConfig>& servers, QByteArrayView json, bool replace)
{
    const Expected<QList<ServerConfig>, QString> incoming = ServerConfig::decodeList(json);
    if (!incoming)
        return badArguments(u"nothing was imported: "_s + incoming.error());
    if (const std::optional<QString> duplicate = ServerConfig::duplicateIds(*incoming))
        return badArguments(u"nothing was imported: "_s + *duplicate);

    ImportOutcome outcome;
    outcome.servers = replace ? QList<ServerConfig>() : servers;
    for (const ServerConfig& server : *incoming) {
        const auto same = std::find_if(outcome.servers.begin(), outcome.servers.end(),
            [&](const ServerConfig& existing) { return existing.id == server.id; });
        const bool known = std::any_of(
            servers.cbegin(), servers.cend(), [&](const ServerConfig& existing) { return existing.id == server.id; });
        if (same != outcome.servers.end())
            *same = server;
        else
            outcome.servers.append(server);
        (known ? outcome.replaced : outcome.added).append(server.name);
    }
    if (replace) {
        for (const ServerConfig& server : servers) {
            const bool kept = std::any_of(
                incoming->cbegin(), incoming->cend(), [&](const ServerConfig& other) { return other.id == server.id; });
            if (!kept)
                outcome.removed.append(server.name);
        }
    }
    // An imported name must find one server (names the list held already
    // are left as they were).
    for (const ServerConfig& imported : *incoming) {
        if (imported.name.isEmpty())
            continue;
        for (const ServerConfig& other : std::as_const(outcome.servers)) {
            if (other.id != imported.id && other.name.compare(imported.name, Qt::CaseInsensitive) == 0)
                return ControlError { ControlErrorCode::conflict,
                    u"nothing was imported: two servers would be named \"%1\" (%2 and %3)"_s.arg(
                        imported.name, uuidText(other.id), uuidText(imported.id)) };
        }
    }
    return outcome;
}

} // namespace Wardlamp
