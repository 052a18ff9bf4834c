#include "Daemon.h"

#include "daemon/LogPrinter.h"
#include "supervision/LineBatch.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "supervision/StandardError.h"

#include <QDateTime>

#include <csignal>
#include <cstring>

#include <malloc.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

void say(const QString& line)
{
    writeToStandardError(QString(u"wardlampd: "_s + line + u'\n').toUtf8());
}

QString signalName(int signalNumber)
{
    const char* abbreviation = sigabbrev_np(signalNumber);
    return abbreviation ? u"SIG"_s + QString::fromLatin1(abbreviation) : u"signal "_s + QString::number(signalNumber);
}

} // namespace

Daemon::Daemon(
    const DaemonOptions& options, ServerStore& store, ServerManager& manager, LogPrinter& printer, QObject* parent)
    : QObject(parent)
    , m_options(options)
    , m_store(store)
    , m_manager(manager)
    , m_printer(printer)
{
    // The batch views are valid only during the call: direct connection.
    connect(&m_manager, &ServerManager::linesCaptured, this, &Daemon::handleLinesCaptured, Qt::DirectConnection);
    connect(&m_manager, &ServerManager::stateChanged, this, &Daemon::handleStateChanged);
    connect(&m_manager, &ServerManager::idle, this, &Daemon::checkSettled);
    connect(&m_manager, &ServerManager::shutdownFinished, this, &Daemon::handleShutdownFinished, Qt::QueuedConnection);
    // Servers added or renamed through the control socket print under their
    // own name. A removed server keeps its name: its last lines may still come
    // while it stops.
    connect(&m_store, &ServerStore::added, this, &Daemon::learnServerName);
    connect(&m_store, &ServerStore::updated, this, &Daemon::learnServerName);
    m_trimTimer.setSingleShot(true);
    m_trimTimer.setInterval(std::chrono::seconds(1));
    m_trimTimer.setTimerType(Qt::VeryCoarseTimer);
    connect(&m_trimTimer, &QTimer::timeout, this, &Daemon::trimHeap);
}

void Daemon::start()
{
    const QList<ServerConfig>& servers = m_store.servers();
    qsizetype autostart = 0;
    for (const ServerConfig& server : servers) {
        m_printer.setServerName(server.id, server.name);
        autostart += server.autostart ? 1 : 0;
    }
    const QString source = m_options.serversFile ? u"from "_s + *m_options.serversFile
        : m_store.isEphemeral()                  ? u"from WL_SEED_SERVERS"_s
                                                 : u"saved"_s;
    // One arg() call: a path may hold "%1" itself.
    say(u"%1 server(s) %2, %3 to start"_s.arg(QString::number(servers.size()), source, QString::number(autostart)));
    m_manager.startAutostartServers(servers);
    if (m_options.untilStopped && m_manager.isIdle())
        checkSettled();
}

void Daemon::learnServerName(const QUuid& id)
{
    if (const std::optional<ServerConfig> server = m_store.server(id))
        m_printer.setServerName(id, server->name);
}

void Daemon::handleLinesCaptured(const QUuid& id, const LineBatch& batch)
{
    Tally& tally = m_tallies[id];
    for (const CapturedLine& line : batch.lines) {
        ++tally.lines;
        tally.errorLines += line.isError ? 1 : 0;
    }
    if (!m_options.quiet)
        m_printer.printBatch(id, batch);
    // At most one trim a second while output flows, one after it stops.
    if (!m_trimTimer.isActive())
        m_trimTimer.start();
}

void Daemon::trimHeap()
{
    ::malloc_trim(0);
}

void Daemon::handleStateChanged(const QUuid& id)
{
    const ServerRuntimeState& state = m_manager.state(id);
    const auto previous = m_lastStatus.constFind(id);
    const bool statusChanged = previous == m_lastStatus.cend() || *previous != state.status;
    m_lastStatus.insert(id, state.status);
    if (statusChanged && m_options.quiet)
        m_printer.printStatus(id, QDateTime::currentDateTime(), state.status, state.lastExitCode);
}

void Daemon::checkSettled()
{
    // Idle: no process, all output handled, and no restart on its way.
    if (!m_options.untilStopped || m_stopping || !m_manager.isIdle())
        return;
    beginShutdown();
}

void Daemon::handleSignal(int signalNumber)
{
    if (m_stopping) {
        // Asked twice: do not wait out the grace period.
        say(u"%1 again: SIGKILL to every server now"_s.arg(signalName(signalNumber)));
        m_manager.shutdown(std::chrono::milliseconds(0));
        return;
    }
    say(u"%1: stopping every server (SIGTERM, SIGKILL after %2 ms)"_s.arg(
        signalName(signalNumber), QString::number(m_options.grace.count())));
    beginShutdown();
}

void Daemon::beginShutdown()
{
    m_stopping = true;
    m_manager.shutdown(m_options.grace);
}

bool Daemon::endedInError(ServerStatus status, bool neverLaunched, quint64 errorLines)
{
    // A server that never got a process but wrote an error ("No command configured.") failed too.
    return status == ServerStatus::error || (neverLaunched && errorLines > 0);
}

void Daemon::handleShutdownFinished()
{
    int code = DaemonExit::ok;
    for (const ServerConfig& server : m_store.servers()) {
        if (!m_manager.states().contains(server.id))
            continue;
        const ServerRuntimeState& state = m_manager.state(server.id);
        if (endedInError(state.status, !state.startedAt.has_value(), m_tallies.value(server.id).errorLines))
            code = DaemonExit::serverFailed;
    }
    m_exitCode = m_options.untilStopped ? code : DaemonExit::ok;
    if (m_options.untilStopped)
        writeSummary();
    Q_EMIT finished(m_exitCode);
}

void Daemon::writeSummary()
{
    for (const ServerConfig& server : m_store.servers()) {
        const Tally tally = m_tallies.value(server.id);
        QString line = u"summary: "_s + server.name + u": "_s;
        if (!m_manager.states().contains(server.id)) {
            say(line + u"not started"_s);
            continue;
        }
        const ServerRuntimeState& state = m_manager.state(server.id);
        line += state.status == ServerStatus::error ? u"error"_s
            : state.status == ServerStatus::running ? u"running"_s
                                                    : u"stopped"_s;
        line += u", %1 lines, %2 error lines, last exit code %3"_s.arg(tally.lines)
                    .arg(tally.errorLines)
                    .arg(state.lastExitCode ? QString::number(*state.lastExitCode) : u"none"_s);
        say(line);
    }
}

} // namespace Wardlamp
