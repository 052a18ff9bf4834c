#include "VerbRunner.h"

#include "agent/PairingStore.h"
#include "cli/LogLineText.h"
#include "cli/ServerListing.h"
#include "cli/TerminalText.h"
#include "control/ControlCall.h"
#include "control/ControlClient.h"
#include "control/ControlPaths.h"
#include "control/ControlVerbs.h"
#include "control/LogLineJson.h"
#include "control/SupervisionVerbs.h"
#include "control/SupervisorLock.h"
#include "daemon/DaemonOptions.h"
#include "daemon/SecretInput.h"
#include "daemon/ServersFile.h"
#include "daemon/VerbLine.h"
#include "supervision/ServerStore.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QSysInfo>

#include <thread>

namespace Wardlamp {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A supervisor takes its lock before it listens: how long a front door waits
// for the socket of one that is starting.
constexpr auto startingSupervisorPatience = 5s;

// Verbs that change the saved settings when no supervisor runs.
bool changesSettings(const QString& verb)
{
    return verb == u"add"_s || verb == u"edit"_s || verb == u"rm"_s || verb == u"import"_s || verb == u"pair"_s
        || verb == u"remote"_s;
}

QString joined(const QJsonArray& names)
{
    QStringList list;
    for (const QJsonValue name : names)
        list.append(u'"' + name.toString() + u'"');
    return list.join(u", "_s);
}

QString describeEnding(const QJsonObject& run)
{
    const QJsonObject ending = run.value(u"ending"_s).toObject();
    if (ending.isEmpty())
        return u"it never got a process"_s;
    const QString at = QDateTime::fromMSecsSinceEpoch(qint64(ending.value(u"at"_s).toDouble()))
                           .toLocalTime()
                           .toString(u"HH:mm:ss"_s);
    const QString cause = ending.value(u"cause"_s).toString();
    const int code = ending.value(u"code"_s).toInt();
    QString how = cause == u"replaced"_s ? u"was replaced by a new start while it still ran"_s
        : cause == u"signalled"_s        ? u"was ended by signal %1"_s.arg(code)
                                         : u"exited with code %1"_s.arg(code);
    if (ending.value(u"requested"_s).toBool())
        how += u" when asked to stop"_s;
    return how + u" at "_s + at;
}

} // namespace

VerbRunner::VerbRunner(QString settingsFile, QProcessEnvironment environment, Io io)
    : m_settingsFile(std::move(settingsFile))
    , m_environment(std::move(environment))
    , m_io(std::move(io))
{
}

std::optional<QJsonObject> VerbRunner::prepare(const VerbLine& line)
{
    QJsonObject args = line.args;
    if (line.verb == u"pair"_s || line.verb == u"remote"_s) {
        QStringList words;
        for (const QJsonValue word : args.value(u"argv"_s).toArray())
            words.append(word.toString());
        Expected<QJsonObject, QString> prepared = SecretInput::prepare(words, m_io.readSecretLine);
        if (!prepared) {
            m_io.err(prepared.error());
            return std::nullopt;
        }
        return *prepared;
    }
    if (line.verb == u"import"_s) {
        const Expected<QByteArray, QString> file = ServersFile::read(line.file);
        if (!file) {
            m_io.err(u"nothing was imported: "_s + file.error());
            return std::nullopt;
        }
        args.insert(u"json"_s, QString::fromUtf8(*file));
    }
    return args;
}

int VerbRunner::run(const VerbLine& line)
{
    if (line.help) {
        m_io.out(VerbLine::helpText(line.verb));
        return DaemonExit::ok;
    }
    const std::optional<QJsonObject> args = prepare(line);
    if (!args)
        return DaemonExit::badInput;
    const Expected<ControlPaths, QString> paths = ControlPaths::resolve(m_settingsFile, m_environment);
    if (!paths) {
        m_io.err(u"cannot set up this configuration's lock and control socket: "_s + paths.error()
            + u"; point XDG_RUNTIME_DIR at a folder of yours"_s);
        return DaemonExit::noControlFolder;
    }
    const auto deadline = std::chrono::steady_clock::now() + startingSupervisorPatience;
    for (;;) {
        Expected<ControlClient, ControlClient::Failure> client = ControlClient::connect(paths->socketFile);
        if (client)
            return runThroughSocket(*client, line, *args);
        if (client.error().problem != ControlClient::Problem::noServer) {
            m_io.err(client.error().message);
            return DaemonExit::unreachable;
        }
        std::optional<LockHolder> supervisor;
        if (changesSettings(line.verb)) {
            // No supervisor may start from the settings while they change.
            Expected<SupervisorLock, SupervisorLock::Refusal> lock
                = SupervisorLock::acquire(*paths, LockHolder::Role::editor, u"wardlampd"_s);
            if (lock)
                return runLocally(line, *args);
            if (!lock.error().holder) {
                m_io.err(u"cannot take this configuration's lock: "_s + lock.error().problem);
                return DaemonExit::noControlFolder;
            }
            supervisor = lock.error().holder;
        } else {
            supervisor = SupervisorLock::currentHolder(*paths);
            if (!supervisor || supervisor->role == LockHolder::Role::editor)
                return runLocally(line, *args);
        }
        // A supervisor holds the lock: it is starting, and its socket comes soon.
        if (std::chrono::steady_clock::now() >= deadline) {
            m_io.err(u"%1 supervises this configuration but does not answer on %2"_s.arg(
                supervisor->describe(), paths->socketFile));
            return DaemonExit::unreachable;
        }
        std::this_thread::sleep_for(50ms);
    }
}

int VerbRunner::runThroughSocket(ControlClient& client, const VerbLine& line, const QJsonObject& args)
{
    const auto who
        = [&client] { return u"%1 (pid %2)"_s.arg(client.hello().program, QString::number(client.hello().pid)); };
    ControlClient::EventHandler onEvent;
    if (line.follow)
        onEvent = [this](const QJsonObject& event) { presentLogLines(event); };
    // A followed log runs until Ctrl-C; anything else is answered at once.
    const std::optional<std::chrono::milliseconds> timeout
        = line.follow ? std::nullopt : std::optional<std::chrono::milliseconds>(60s);
    const Expected<ControlMessage, ControlClient::Failure> reply = client.call(line.verb, args, onEvent, timeout);
    if (!reply) {
        if (line.follow && reply.error().problem == ControlClient::Problem::lost) {
            m_io.err(who() + u" has stopped"_s);
            return DaemonExit::ok;
        }
        m_io.err(who() + u": "_s + reply.error().message);
        return DaemonExit::unreachable;
    }
    return present(line, *reply, true);
}

int VerbRunner::runLocally(const VerbLine& line, const QJsonObject& args)
{
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    if (line.verb == u"pair"_s || line.verb == u"remote"_s) {
        const RemoteRequest request = RemoteRequest::fromJson(args);
        return presentRemote(m_io.runRemoteLocally(request.words, request.inputs, settings).toJson());
    }
    // The verbs act on the saved list, whatever list a run would be seeded with.
    QProcessEnvironment environment = m_environment;
    environment.remove(ServerStore::seedVariable);
    ServerStore store(settings, environment);
    ControlVerbs verbs;
    SupervisionVerbs::Options options;
    options.program = u"wardlampd"_s;
    options.computerName = [this] { return computerName(); };
    SupervisionVerbs supervision(verbs, store, nullptr, options);

    std::optional<ControlMessage> reply;
    ControlRequest request;
    request.id = 1;
    request.verb = line.verb;
    request.args = args;
    ControlCall call(request, [&reply](const QByteArray& message) {
        std::optional<ControlMessage> parsed = ControlMessage::parse(message.trimmed());
        if (parsed && parsed->kind == ControlMessage::Kind::reply)
            reply = std::move(parsed);
        return true;
    });
    verbs.dispatch(call);
    if (!reply) {
        m_io.err(u"the verb "_s + line.verb + u" gave no answer"_s);
        return DaemonExit::unreachable;
    }
    return present(line, *reply, false);
}

QString VerbRunner::computerName() const
{
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    const QVariant name = settings.value(PairingStore::macNameKey);
    return name.isValid() ? name.toString() : QSysInfo::machineHostName();
}

int VerbRunner::present(const VerbLine& line, const ControlMessage& reply, bool supervised)
{
    if (!reply.ok)
        return failure(reply.error);
    const QString& verb = line.verb;
    if (verb == u"ls"_s)
        return presentList(line, reply.result);
    if (verb == u"logs"_s)
        return presentLogLines(reply.result);
    if (verb == u"start"_s || verb == u"stop"_s || verb == u"restart"_s || verb == u"clear"_s)
        return presentActions(reply.result);
    if (verb == u"pair"_s || verb == u"remote"_s)
        return presentRemote(reply.result);
    if (verb == u"export"_s) {
        const QJsonDocument list = QJsonDocument::fromJson(reply.result.value(u"servers"_s).toString().toUtf8());
        m_io.out(QString::fromUtf8(list.toJson(QJsonDocument::Indented)));
        return DaemonExit::ok;
    }
    return presentEdit(line, reply.result, supervised);
}

int VerbRunner::presentList(const VerbLine& line, const QJsonObject& result)
{
    const std::optional<ServerListing> listing = ServerListing::fromJsonObject(result);
    if (!listing) {
        m_io.err(u"the supervisor's list cannot be read"_s);
        return DaemonExit::unreachable;
    }
    const QDateTime now = QDateTime::currentDateTimeUtc();
    if (line.json)
        m_io.out(QString::fromUtf8(listing->json(now)) + u'\n');
    else
        m_io.out(listing->table(now));
    if (!result.value(u"supervising"_s).toBool())
        m_io.err(u"nothing supervises these servers now; `wardlampd` (or the desktop app) runs them"_s);
    return DaemonExit::ok;
}

int VerbRunner::presentLogLines(const QJsonObject& result)
{
    if (result.value(u"removed"_s).toBool()) {
        m_io.err(u"the server was removed from the list"_s);
        return DaemonExit::ok;
    }
    if (result.contains(u"skipped"_s)) {
        // The supervisor dropped lines this follower had not yet read.
        m_io.err(u"… %1 lines not shown: this terminal fell behind the log"_s.arg(
            qint64(result.value(u"skipped"_s).toDouble())));
        return DaemonExit::ok;
    }
    if (result.contains(u"previous"_s)) {
        const QJsonObject run = result.value(u"previous"_s).toObject();
        const QString name = result.value(u"server"_s).toObject().value(u"name"_s).toString();
        QString heading = u"the run of \"%1\" before the current one"_s.arg(name);
        if (run.contains(u"startedAt"_s))
            heading += u", started "_s
                + QDateTime::fromMSecsSinceEpoch(qint64(run.value(u"startedAt"_s).toDouble()))
                      .toLocalTime()
                      .toString(u"HH:mm:ss"_s);
        m_io.err(heading + u", "_s + describeEnding(run));
    }
    const std::optional<QList<LogLineJson::Line>> lines = LogLineJson::decode(result);
    if (!lines) {
        m_io.err(u"the supervisor's log lines cannot be read"_s);
        return DaemonExit::unreachable;
    }
    if (result.value(u"truncated"_s).toBool())
        m_io.err(u"older lines are left out: the log holds more text than one answer carries"_s);
    QString text;
    for (const LogLineJson::Line& logLine : *lines) {
        const QString clean = QString::fromUtf8(TerminalText::sanitize(logLine.text.toUtf8(), m_io.colour));
        text += LogLineText::format(QDateTime::fromMSecsSinceEpoch(logLine.msecs), logLine.isError, clean) + u'\n';
    }
    if (!text.isEmpty())
        m_io.out(text);
    return DaemonExit::ok;
}

int VerbRunner::presentActions(const QJsonObject& result)
{
    bool failed = false;
    QString text;
    for (const QJsonValue value : result.value(u"servers"_s).toArray()) {
        const QJsonObject server = value.toObject();
        QString line = server.value(u"name"_s).toString() + u": "_s + server.value(u"status"_s).toString();
        if (server.contains(u"pid"_s))
            line += u" (pid %1)"_s.arg(server.value(u"pid"_s).toInt());
        if (server.contains(u"note"_s))
            line += u" \u2014 "_s + server.value(u"note"_s).toString();
        failed = failed || server.value(u"failed"_s).toBool();
        text += line + u'\n';
    }
    m_io.out(text);
    return failed ? DaemonExit::serverFailed : DaemonExit::ok;
}

int VerbRunner::presentEdit(const VerbLine& line, const QJsonObject& result, bool supervised)
{
    for (const QJsonValue warning : result.value(u"warnings"_s).toArray())
        m_io.err(u"warning: "_s + warning.toString());
    const QJsonObject server = result.value(u"server"_s).toObject();
    const QString name = u'"' + server.value(u"name"_s).toString() + u'"';
    const QString& verb = line.verb;
    if (verb == u"add"_s)
        m_io.out(u"added %1 (%2)\n"_s.arg(name, server.value(u"id"_s).toString()));
    else if (verb == u"edit"_s)
        m_io.out(u"changed %1\n"_s.arg(name));
    else if (verb == u"rm"_s)
        m_io.out(u"removed %1\n"_s.arg(name));
    else if (verb == u"import"_s)
        m_io.out(u"imported: %1 added%2, %3 replaced%4%5\n"_s.arg(
            QString::number(result.value(u"added"_s).toArray().size()),
            result.value(u"added"_s).toArray().isEmpty() ? QString()
                                                         : u" ("_s + joined(result.value(u"added"_s).toArray()) + u')',
            QString::number(result.value(u"replaced"_s).toArray().size()),
            result.value(u"replaced"_s).toArray().isEmpty()
                ? QString()
                : u" ("_s + joined(result.value(u"replaced"_s).toArray()) + u')',
            result.value(u"removed"_s).toArray().isEmpty()
                ? QString()
                : u", %1 removed (%2)"_s.arg(QString::number(result.value(u"removed"_s).toArray().size()),
                    joined(result.value(u"removed"_s).toArray()))));
    if (result.value(u"running"_s).toBool())
        m_io.err(u"%1 runs on with what it was started with; `wardlampd restart %2` starts it anew"_s.arg(
            name, server.value(u"name"_s).toString()));
    if (verb == u"add"_s && supervised)
        m_io.err(u"`wardlampd start %1` starts it"_s.arg(server.value(u"name"_s).toString()));
    if (result.value(u"ephemeral"_s).toBool())
        m_io.err(u"the supervisor runs a list from --servers or WL_SEED_SERVERS: the change lasts until it stops, "
                 "and the saved list is not changed"_s);
    if (result.contains(u"saved"_s) && !result.value(u"saved"_s).toBool()) {
        m_io.err(u"the list could not be written to "_s + m_settingsFile
            + (supervised ? u"; the supervisor has the change until it stops"_s : QString()));
        return DaemonExit::serverFailed;
    }
    return DaemonExit::ok;
}

int VerbRunner::presentRemote(const QJsonObject& result)
{
    const std::optional<RemoteReply> reply = RemoteReply::fromJson(result);
    if (!reply) {
        m_io.err(u"the supervisor's answer cannot be read"_s);
        return DaemonExit::unreachable;
    }
    if (!reply->out.isEmpty())
        m_io.out(reply->out);
    for (const QString& note : reply->notes)
        m_io.err(note);
    return reply->exitCode;
}

int VerbRunner::failure(const ControlError& error)
{
    m_io.err(error.message);
    switch (error.code) {
    case ControlErrorCode::notFound:
    case ControlErrorCode::ambiguous:
        return DaemonExit::unknownServer;
    case ControlErrorCode::notRunning:
        return DaemonExit::notRunning;
    case ControlErrorCode::badArguments:
    case ControlErrorCode::conflict:
        return DaemonExit::badInput;
    case ControlErrorCode::failed:
        return DaemonExit::serverFailed;
    default:
        return DaemonExit::unreachable;
    }
}

} // namespace Wardlamp
