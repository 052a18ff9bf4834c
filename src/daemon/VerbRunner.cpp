#include "VerbRunner.h"

#include "agent/PairingStore.h"
#include "cli/ServerListing.h"
#include "control/ControlCall.h"
#include "control/ControlClient.h"
#include "control/ControlPaths.h"
#include "control/ControlVerbs.h"
#include "control/SupervisionVerbs.h"
#include "control/SupervisorLock.h"
#include "daemon/DaemonOptions.h"
#include "daemon/VerbLine.h"
#include "supervision/ServerStore.h"

#include <QDateTime>
#include <QSettings>
#include <QSysInfo>

#include <thread>

namespace Wardlamp {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

// A supervisor takes its lock before it listens: how long a front door waits
// for the socket of one that is starting.
constexpr auto startingSupervisorPatience = 3s;

} // namespace

VerbRunner::VerbRunner(QString settingsFile, QProcessEnvironment environment, Io io)
    : m_settingsFile(std::move(settingsFile))
    , m_environment(std::move(environment))
    , m_io(std::move(io))
{
}

int VerbRunner::run(const VerbLine& line)
{
    if (line.help) {
        m_io.out(VerbLine::helpText(line.verb));
        return DaemonExit::ok;
    }
    const Expected<ControlPaths, QString> paths = ControlPaths::resolve(m_settingsFile, m_environment);
    if (!paths) {
        m_io.err(paths.error());
        return DaemonExit::unreachable;
    }
    const auto deadline = std::chrono::steady_clock::now() + startingSupervisorPatience;
    for (;;) {
        Expected<ControlClient, ControlClient::Failure> client = ControlClient::connect(paths->socketFile);
        if (client) {
            const Expected<ControlMessage, ControlClient::Failure> reply = client->call(line.verb, line.args);
            if (!reply) {
                m_io.err(u"%1 (pid %2): %3"_s.arg(
                    client->hello().program, QString::number(client->hello().pid), reply.error().message));
                return DaemonExit::unreachable;
            }
            return present(line, *reply);
        }
        if (client.error().problem != ControlClient::Problem::noServer) {
            m_io.err(client.error().message);
            return DaemonExit::unreachable;
        }
        const std::optional<LockHolder> holder = SupervisorLock::currentHolder(*paths);
        if (!holder || holder->role == LockHolder::Role::editor) {
            const std::optional<ControlMessage> reply = runLocally(line);
            if (!reply)
                return DaemonExit::unreachable;
            return present(line, *reply);
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            m_io.err(u"%1 supervises this configuration but does not answer on %2"_s.arg(
                holder->describe(), paths->socketFile));
            return DaemonExit::unreachable;
        }
        std::this_thread::sleep_for(50ms);
    }
}

std::optional<ControlMessage> VerbRunner::runLocally(const VerbLine& line)
{
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    // The verbs act on the saved list, whatever list a run would be seeded with.
    QProcessEnvironment environment = m_environment;
    environment.remove(ServerStore::seedVariable);
    ServerStore store(settings, environment);
    ControlVerbs verbs;
    SupervisionVerbs::Options options;
    options.program = u"wardlampd"_s;
    options.computerName = [this] { return computerName(); };
    SupervisionVerbs supervision(verbs, store, nullptr, options);

    QList<QByteArray> lines;
    ControlRequest request;
    request.id = 1;
    request.verb = line.verb;
    request.args = line.args;
    ControlCall call(request, [&lines](const QByteArray& message) {
        lines.append(message);
        return true;
    });
    verbs.dispatch(call);
    for (const QByteArray& message : std::as_const(lines)) {
        std::optional<ControlMessage> parsed = ControlMessage::parse(message.trimmed());
        if (parsed && parsed->kind == ControlMessage::Kind::reply)
            return parsed;
    }
    m_io.err(u"the verb "_s + line.verb + u" gave no answer"_s);
    return std::nullopt;
}

QString VerbRunner::computerName() const
{
    QSettings settings(m_settingsFile, QSettings::IniFormat);
    const QVariant name = settings.value(PairingStore::macNameKey);
    return name.isValid() ? name.toString() : QSysInfo::machineHostName();
}

int VerbRunner::present(const VerbLine& line, const ControlMessage& reply)
{
    if (!reply.ok)
        return failure(reply.error);
    if (line.verb == u"ls"_s)
        return presentList(line, reply.result);
    return DaemonExit::ok;
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
