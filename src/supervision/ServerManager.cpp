#include "ServerManager.h"

#include "AlertLine.h"
#include "Leftovers.h"
#include "PlainText.h"
#include "StandardError.h"

#include "ChangeBatch.h"
#include "ErrorAlertService.h"
#include "OutputPump.h"
#include "PipeWaiter.h"
#include "PortInUse.h"
#include "PostBox.h"
#include "ProcessRun.h"
#include "ProcessTree.h"
#include "ServerRecord.h"
#include "Subreaper.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QThreadPool>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/prctl.h>
#include <sys/wait.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcSupervision, "wardlamp.supervision")

const QString textNoCommand = QStringLiteral("No command configured.");
const QString textStarted = QStringLiteral("\u25B6\uFE0E Started: ");
const QString textFailedToStart = QStringLiteral("Failed to start: ");
const QString textStopping = QStringLiteral("\u25A0 Stopping\u2026");
const QString textStopped = QStringLiteral("\u25A0 Stopped.");
const QString textStoppedRestarting = QStringLiteral("\u25A0 Stopped (restarting\u2026)");
const QString textStoppedExit0 = QStringLiteral("\u25A0 Stopped (exit 0)");
const QString textServerPrefix = QStringLiteral("\u2716 Server ");
const QString textAutoRestarting = QStringLiteral("\u21BB Auto-restarting\u2026");

QString trimmedSpacesAndTabs(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == u' ' || text[begin] == u'\t'))
        ++begin;
    while (end > begin && (text[end - 1] == u' ' || text[end - 1] == u'\t'))
        --end;
    return text.sliced(begin, end - begin);
}

} // namespace

// Every operation opens one: the changes it makes are announced when the
// outermost one ends, once per server.
class ServerManager::ChangeScope {
public:
    explicit ChangeScope(ServerManager& manager)
        : m_manager(manager)
    {
        if (m_manager.m_scopeDepth++ == 0)
            m_manager.m_changes = std::make_unique<Detail::ChangeBatch>();
    }
    ~ChangeScope()
    {
        if (--m_manager.m_scopeDepth == 0)
            m_manager.flushChanges();
    }
    ChangeScope(const ChangeScope&) = delete;
    ChangeScope& operator=(const ChangeScope&) = delete;

private:
    ServerManager& m_manager;
};

struct ServerManager::Shutdown {
    QList<ProcessInfo> processes; // every process signalled on the way down
    bool reported = false;
};

bool ServerManager::installPipeWakeSignal()
{
    return Detail::PipeWaiter::installWakeSignal();
}

ServerManager::ServerManager(Options options, QObject* parent)
    : QObject(parent)
    , m_loginShell(options.loginShell.isEmpty() ? QStringLiteral("/bin/sh") : options.loginShell)
    , m_scanner(std::move(options.listenerScanner))
    , m_clock(options.clock ? std::move(options.clock) : Clock([] { return std::chrono::steady_clock::now(); }))
    , m_alerts(options.alertService)
    , m_subreaper(options.subreaper)
    , m_postBox(std::make_shared<Detail::PostBox>(this))
{
    int reapsOrphans = 0;
    if (!m_subreaper && ::prctl(PR_GET_CHILD_SUBREAPER, &reapsOrphans) == 0 && reapsOrphans)
        qCWarning(lcSupervision) << "this process reaps orphans, but the manager was given no Subreaper to claim its "
                                    "children from: their exit statuses may be taken before it collects them";
    std::weak_ptr<Detail::PostBox> box = m_postBox;
    auto pump = Detail::OutputPump::create([this, box](const std::shared_ptr<Detail::ProcessRun>& run) {
        // Output thread: one queued call per batch; it does nothing once the manager is gone.
        if (const auto postBox = box.lock())
            postBox->post([this, run] { handleOutput(run); });
    });
    if (pump) {
        m_pump = std::move(*pump);
    } else {
        // Nothing can run without it: every start fails, saying why.
        m_pumpProblem = pump.error();
        qCCritical(lcSupervision) << "servers cannot be started:" << m_pumpProblem;
    }
}

ServerManager::~ServerManager()
{
    m_postBox->close();
    // Nothing may outlive its supervisor: kill what is left and collect the children.
    for (const auto& run : std::as_const(m_liveRuns))
        run->signalTree(SIGKILL);
    m_pump.reset();
    for (const auto& run : std::as_const(m_liveRuns)) {
        if (!run->finishedReading) {
            siginfo_t info {};
            while (::waitid(idtype_t(3 /* P_PIDFD */), id_t(run->pidfd), &info, WEXITED) < 0 && errno == EINTR) { }
        }
        if (m_subreaper)
            m_subreaper->release(run->pid);
    }
}

// --- queries ---------------------------------------------------------------

const ServerRuntimeState& ServerManager::state(const QUuid& id) const
{
    static const ServerRuntimeState defaultState;
    const auto it = m_states.constFind(id);
    return it == m_states.constEnd() ? defaultState : *it;
}

bool ServerManager::anyRunning() const
{
    return runningCount() > 0;
}

bool ServerManager::anyError() const
{
    for (const ServerRuntimeState& entry : m_states) {
        if (entry.hasError)
            return true;
    }
    return false;
}

int ServerManager::runningCount() const
{
    int count = 0;
    for (const ServerRuntimeState& entry : m_states) {
        if (entry.status == ServerStatus::running)
            ++count;
    }
    return count;
}

bool ServerManager::anyProcessAlive() const
{
    return !m_liveRuns.isEmpty();
}

bool ServerManager::hasScheduledStarts() const
{
    if (m_pendingStarts > 0)
        return true;
    // A recovery whose failing process has gone always ends in a start; one
    // whose process is still there counts as alive anyway.
    for (const auto& [id, record] : m_records) {
        if (record->portRecovery.isRecovering())
            return true;
    }
    return false;
}

const PreviousRun* ServerManager::previousRun(const QUuid& id) const
{
    const Detail::ServerRecord* found = findRecord(id);
    return found && found->previous ? &*found->previous : nullptr;
}

bool ServerManager::canAutoRestart(const QUuid& id) const
{
    const Detail::ServerRecord* found = findRecord(id);
    return !found || found->crashRestarts.canAutoRestart(m_clock());
}

// --- operations ------------------------------------------------------------

void ServerManager::start(const ServerConfig& config)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    if (trimmedSpacesAndTabs(config.command).isEmpty()) {
        appendLine(id, textNoCommand, true);
        return;
    }
    if (state(id).status == ServerStatus::running)
        return;
    if (m_shutdown) {
        qCInfo(lcSupervision) << "not starting" << config.name << "while shutting down";
        return;
    }
    Detail::ServerRecord& server = record(id);
    ServerRuntimeState& target = ensureEntry(id);
    const bool hadLines = !target.logs.isEmpty();
    const bool keepPrevious = hadLines || target.startedAt;
    if (keepPrevious) {
        if (server.run)
            server.ending = RunEnding { RunEnding::Cause::replaced, 0, false, m_changes->date() };
        server.previous = PreviousRun { target.logs, target.startedAt, std::exchange(server.ending, std::nullopt) };
    }
    if (server.run)
        retireRun(server.run, replacedRunGracePeriod);
    server.beginStart();
    server.ending.reset();

    target = ServerRuntimeState {};
    target.logs = LogRing(id);
    target.status = ServerStatus::running;
    target.startedAt = m_changes->date();
    if (hadLines)
        m_changes->clearLog(id);
    else
        touch(id);
    if (keepPrevious)
        Q_EMIT previousRunChanged(id);
    launch(config, server);
}

void ServerManager::launch(const ServerConfig& config, Detail::ServerRecord& server)
{
    const QUuid& id = config.id;
    const auto failToStart = [&](const QString& reason) {
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::error;
            target->hasError = true;
            touch(id);
        }
        appendLine(id, textFailedToStart + reason, true);
    };
    if (!m_pump) {
        failToStart(m_pumpProblem);
        return;
    }
    const Detail::ProcessRun::Launch launched
        = Detail::ProcessRun::launch(config, m_loginShell, m_subreaper, m_configurationTag);
    if (!launched) {
        failToStart(QString::fromLocal8Bit(std::strerror(launched.error())));
        return;
    }
    const std::shared_ptr<Detail::ProcessRun>& run = *launched;
    server.run = run;
    m_liveRuns.append(run);
    m_pump->add(run);
    if (ServerRuntimeState* target = entry(id)) {
        target->pid = run->pid;
        touch(id);
    }
    appendLine(id, textStarted + config.command, false);
}

void ServerManager::stop(const ServerConfig& config)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    Detail::ServerRecord& server = record(id);
    if (const auto run = server.run) {
        server.stopRequested = true;
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::stopped;
            target->hasError = false;
            target->pid.reset();
            touch(id);
        }
        appendLine(id, textStopping, false);
        run->signalTree(SIGTERM);
        scheduleForcedKill(run, stopGracePeriod);
        return;
    }
    // Nothing runs: the stop is complete at once.
    server.stopRequested = false;
    if (ServerRuntimeState* target = entry(id)) {
        target->status = ServerStatus::stopped;
        touch(id);
    }
    if (std::exchange(server.restartAfterStop, false))
        start(config);
}

void ServerManager::restart(const ServerConfig& config)
{
    if (state(config.id).status == ServerStatus::running) {
        ChangeScope scope(*this);
        record(config.id).restartAfterStop = true;
        stop(config);
        return;
    }
    start(config);
}

void ServerManager::startAutostartServers(const QList<ServerConfig>& servers)
{
    ChangeScope scope(*this);
    for (const ServerConfig& config : servers) {
        if (config.autostart)
            start(config);
    }
}

void ServerManager::stopAll()
{
    for (const auto& [id, server] : m_records) {
        // finishedReading belongs to the output thread; this flag is the one we may read here.
        if (!server->run || server->run->reaped.load())
            continue;
        server->stopRequested = true;
        server->run->signalTree(SIGTERM);
    }
}

void ServerManager::clearLogs(const QUuid& id)
{
    ChangeScope scope(*this);
    ServerRuntimeState* target = entry(id);
    if (!target)
        return;
    target->logs.clear();
    target->hasError = false;
    if (target->status == ServerStatus::error)
        target->status = ServerStatus::stopped;
    m_changes->clearLog(id);
}

void ServerManager::appendLog(const QUuid& id, const QString& text, bool isError)
{
    ChangeScope scope(*this);
    appendLine(id, text, isError);
}

void ServerManager::markError(const ServerConfig& config, const QString& message)
{
    ChangeScope scope(*this);
    if (ServerRuntimeState* target = entry(config.id)) {
        target->hasError = true;
        if (target->status == ServerStatus::running)
            target->status = ServerStatus::error;
        touch(config.id);
    }
    if (m_alerts)
        m_alerts->alert(config, message);
}

void ServerManager::shutdown(std::chrono::milliseconds grace)
{
    if (!m_shutdown)
        m_shutdown = std::make_unique<Shutdown>();
    for (const auto& [id, server] : m_records) {
        if (server->run)
            server->stopRequested = true;
    }
    const auto runs = m_liveRuns;
    for (const auto& run : runs)
        run->signalTree(SIGTERM);
    QTimer::singleShot(grace, Qt::PreciseTimer, this, [this] {
        const auto remaining = m_liveRuns;
        for (const auto& run : remaining)
            run->signalTree(SIGKILL);
        for (const ProcessInfo& process : ProcessTree::alive(m_shutdown->processes))
            ::kill(process.pid, SIGKILL);
    });
    for (const auto& run : runs)
        m_shutdown->processes.append(run->signalled);
    // Reported from the event loop even when nothing runs, so a caller that
    // connects right after this call still hears it.
    QMetaObject::invokeMethod(
        this, [this] { checkShutdownFinished(); }, Qt::QueuedConnection);
}

// --- runs ------------------------------------------------------------------

void ServerManager::retireRun(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace)
{
    // Its remaining output is read and dropped, its exit reaches nothing.
    run->discard.store(true);
    run->signalTree(SIGTERM);
    scheduleForcedKill(run, grace);
}

void ServerManager::scheduleForcedKill(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace)
{
    // The timer keeps the run: descendants may outlive the root and its exit handling.
    QTimer::singleShot(grace, Qt::PreciseTimer, this, [run] {
        // Whatever of the tree survived the grace period, root or descendant.
        if (!run->finished || !ProcessTree::alive(run->signalled).isEmpty())
            run->signalTree(SIGKILL);
    });
}

void ServerManager::scheduleStart(const ServerConfig& config, std::chrono::milliseconds delay)
{
    ++m_pendingStarts;
    QTimer::singleShot(delay, Qt::PreciseTimer, this, [this, config] {
        --m_pendingStarts;
        if (!m_shutdown)
            start(config);
        // The start may have been refused or failed to launch.
        checkIdle();
    });
}

// --- output: the main-thread half of the output thread ---------------------

void ServerManager::handleOutput(const std::shared_ptr<Detail::ProcessRun>& run)
{
    Detail::PendingOutput output = m_pump->take(run);
    if (output.isEmpty())
        return;
    const Detail::ServerRecord* server = findRecord(run->config.id);
    const bool current = !run->discard.load() && server && server->run == run;
    // Posted, so this scope is the outermost one: the batch is announced at its
    // end, while the lines' table and text are still here.
    Q_ASSERT(m_scopeDepth == 0);
    {
        ChangeScope scope(*this);
        if (current)
            handleOutputLines(run, output);
        if (output.finished)
            handleRunFinished(run, output.status, output.bySignal);
    }
    const bool finished = output.finished;
    m_pump->recycle(std::move(output));
    if (finished && m_liveRuns.isEmpty()) {
        Q_EMIT allProcessesExited();
        checkIdle();
    }
    if (finished)
        checkShutdownFinished();
}

void ServerManager::handleOutputLines(const std::shared_ptr<Detail::ProcessRun>& run, Detail::PendingOutput& output)
{
    const ServerConfig& config = run->config;
    const QUuid& id = config.id;
    const std::size_t count = output.lines.size();
    if (count == 0)
        return;

    ServerRuntimeState& target = ensureEntry(id);
    Detail::ChangeBatch::Server& change = m_changes->server(id);
    change.stateChanged = true;
    // The alert's line: the best ranked error line of the batch (AlertLine),
    // looked for only while an alert would be let through.
    const bool alertDue = m_alerts && m_alerts->isDueFor(id);
    std::optional<std::size_t> alertLine;
    AlertLine::Rank alertRank = AlertLine::Rank::errorLine;
    bool portHandled = false;
    // Stable while this loop runs: records are held by pointer, and the port
    // recovery below numbers its own line through the same counter.
    quint64& lastSeq = record(id).lastSeq;
    const qint64 msecs = m_changes->msecs();
    // linesCaptured reads the lines in the pump's own table (handleOutput
    // announces the batch before it hands the table back): runs of it, split
    // where a port recovery writes a line of its own in between.
    std::size_t runStart = 0;
    quint64 runSeq = lastSeq + 1;

    for (std::size_t i = 0; i < count; ++i) {
        const Detail::RawLine& raw = output.lines[i];
        const QByteArrayView bytes = output.text(raw);
        const bool isError = raw.flags & Detail::RawLine::error;
        const quint64 seq = ++lastSeq;

        // A line followed by a full log's worth of lines in this same batch
        // would be evicted at once: it is counted and handed out, never stored.
        if (count - 1 - i < std::size_t(maxLogLines))
            target.logs.append(bytes, msecs, isError, seq);
        if (isError) {
            target.hasError = true;
            if (target.status == ServerStatus::running)
                target.status = ServerStatus::error;
            if (alertDue && (!alertLine || alertRank != AlertLine::Rank::leadsWithWord)) {
                const AlertLine::Rank rank
                    = AlertLine::rank(PlainText::hasControls(bytes) ? QByteArrayView(PlainText::strip(bytes)) : bytes,
                        !(raw.flags & Detail::RawLine::standardError));
                if (!alertLine || rank > alertRank) {
                    alertLine = i;
                    alertRank = rank;
                }
            }
        }
        if (!portHandled && (raw.flags & Detail::RawLine::maybePort)) {
            // Text only for the port check, which few lines need.
            const QString text = QString::fromUtf8(PlainText::strip(bytes));
            if (const auto port = PortInUse::detect(text)) {
                Detail::ChangeBatch::outputAppended(change, output.lines.data() + runStart, i + 1 - runStart, runSeq);
                runStart = i + 1;
                // A server that goes on with another port (Vite, Next) has
                // not failed: whoever holds the port is a bystander.
                if (PortInUse::saysItCarriesOn(text))
                    handlePortCarryOn(config, run, *port);
                else
                    handlePortInUse(config, *port);
                // Further port messages of this batch meet a running recovery or
                // the same cooldown, and are ignored either way.
                portHandled = true;
                runSeq = lastSeq + 1;
            }
        }
    }
    Detail::ChangeBatch::outputAppended(change, output.lines.data() + runStart, count - runStart, runSeq);
    // The alert service lets one alert per server through every 30 s, so within
    // one batch only one error line can raise one.
    if (alertLine)
        m_alerts->alert(config, QString::fromUtf8(PlainText::strip(output.text(output.lines[*alertLine]))));
}

// --- exits -----------------------------------------------------------------

void ServerManager::handleRunFinished(const std::shared_ptr<Detail::ProcessRun>& run, int status, bool bySignal)
{
    run->finished = true;
    m_liveRuns.removeOne(run);
    if (m_subreaper)
        m_subreaper->release(run->pid);
    if (m_shutdown)
        m_shutdown->processes.append(run->signalled);
    const Detail::ServerRecord* server = findRecord(run->config.id);
    if (!server || server->run != run)
        return; // a replaced run: its exit concerns nobody
    handleTermination(run->config, status, bySignal);
}

// The exit of a server's current run: a requested stop completing, the end of
// a port recovery, or an exit of the process's own accord (a crash, perhaps
// restarted).
void ServerManager::handleTermination(const ServerConfig& config, int status, bool bySignal)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    Detail::ServerRecord& server = record(id);
    server.run.reset();
    server.ending = RunEnding { bySignal ? RunEnding::Cause::signalled : RunEnding::Cause::exited, status,
        server.stopRequested, m_changes->date() };
    if (ServerRuntimeState* target = entry(id)) {
        target->pid.reset();
        target->lastExitCode = status;
        touch(id);
    }

    if (std::exchange(server.stopRequested, false)) {
        server.portRecovery.abandon();
        if (std::exchange(server.restartAfterStop, false)) {
            if (ServerRuntimeState* target = entry(id))
                target->status = ServerStatus::stopped;
            appendLine(id, textStoppedRestarting, false);
            scheduleStart(config, std::chrono::milliseconds(0));
            return;
        }
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::stopped;
            target->hasError = false;
        }
        appendLine(id, textStopped, false);
        return;
    }

    // The run said it would carry on with another port, and exited instead:
    // it gave up on the busy port after all, which is freed now.
    if (const std::optional<Detail::ServerRecord::CarryOn> carryOn = std::exchange(server.carryOn, std::nullopt);
        carryOn && !server.portRecovery.isRecovering() && m_clock() - carryOn->at <= carryOnExitWindow)
        handlePortInUse(config, carryOn->port);
    if (server.portRecovery.isRecovering()) {
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::stopped;
            target->hasError = false;
        }
        finishPortRecovery(config);
        return;
    }

    const bool hadError = state(id).hasError;
    if (status == 0 && !bySignal) {
        if (ServerRuntimeState* target = entry(id))
            target->status = hadError ? ServerStatus::error : ServerStatus::stopped;
        appendLine(id, textStoppedExit0, false);
        return;
    }
    const QString reason = bySignal ? QStringLiteral("killed by signal ") + QString::number(status)
                                    : QStringLiteral("exited with code ") + QString::number(status);
    if (ServerRuntimeState* target = entry(id)) {
        target->status = ServerStatus::error;
        target->hasError = true;
    }
    appendLine(id, textServerPrefix + reason, true);
    markError(config, QStringLiteral("Server ") + reason);
    if (!server.crashRestarts.claimRestart(config.restartOnCrash, m_clock()))
        return;
    appendLine(id, textAutoRestarting, false);
    scheduleStart(config, crashRestartDelay);
}

// --- leftovers of an earlier supervisor of this configuration

void ServerManager::setConfigurationTag(const QByteArray& tag)
{
    m_configurationTag = tag;
}

int ServerManager::stopLeftovers()
{
    const QList<ProcessInfo> leftovers = Leftovers::find(m_configurationTag);
    if (leftovers.isEmpty())
        return 0;
    writeToStandardError((Leftovers::notice(leftovers) + u'\n').toUtf8());
    const QList<ProcessInfo> killed = Leftovers::stop(leftovers, stopGracePeriod);
    if (!killed.isEmpty())
        writeToStandardError(
            QStringLiteral("%1 of them ignored SIGTERM and were killed.\n").arg(killed.size()).toUtf8());
    return int(leftovers.size());
}

// --- port recovery: a busy port in the output is freed, then the server starts again

bool ServerManager::handlePortInUse(const ServerConfig& config, int port)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    Detail::ServerRecord& server = record(id);
    const std::optional<quint64> attempt = server.portRecovery.begin(m_clock());
    if (!attempt)
        return false;
    server.carryOn.reset();
    server.crashRestarts.forget();
    appendLine(id, PortRecovery::beginText(port), false);

    // The scan and the grace sleep block: they run on a pool thread and report
    // back through the post box, which drops the report once we are gone.
    std::weak_ptr<Detail::PostBox> box = m_postBox;
    std::shared_ptr<const ListenerScanner> scanner = m_scanner;
    QThreadPool::globalInstance()->start([this, box, scanner, config, port, attempt = *attempt] {
        const QList<qint32> pids = PortRecovery::freePort(scanner.get(), port, portKillGrace);
        if (const auto postBox = box.lock())
            postBox->post([this, config, attempt, port, pids] { handlePortFreed(config, attempt, port, pids); });
    });
    return true;
}

void ServerManager::handlePortCarryOn(
    const ServerConfig& config, const std::shared_ptr<Detail::ProcessRun>& run, int port)
{
    Detail::ServerRecord& server = record(config.id);
    if (server.run != run || server.portRecovery.isRecovering())
        return;
    server.carryOn = Detail::ServerRecord::CarryOn { port, m_clock() };
    // Named off the main thread (the scan reads /proc); reported only while
    // the run that said it carries on is still the server's and alive.
    std::weak_ptr<Detail::PostBox> box = m_postBox;
    std::shared_ptr<const ListenerScanner> scanner = m_scanner;
    std::weak_ptr<Detail::ProcessRun> weakRun = run;
    QThreadPool::globalInstance()->start([this, box, scanner, config, port, weakRun] {
        const QList<PortRecovery::Holder> holders = PortRecovery::holders(scanner.get(), port);
        if (const auto postBox = box.lock())
            postBox->post([this, config, port, holders, weakRun] {
                const std::shared_ptr<Detail::ProcessRun> reporter = weakRun.lock();
                const Detail::ServerRecord* current = findRecord(config.id);
                if (!reporter || !current || current->run != reporter || reporter->finished)
                    return;
                ChangeScope scope(*this);
                appendLine(config.id, PortRecovery::heldText(port, holders), false);
            });
    });
}

void ServerManager::handlePortFreed(const ServerConfig& config, quint64 attempt, int port, const QList<qint32>& pids)
{
    ChangeScope scope(*this);
    appendLine(config.id, PortRecovery::resultText(port, pids), false);
    record(config.id).portRecovery.portFreed(attempt);
    finishPortRecovery(config);
}

// Called when the port has been dealt with and when the failing process has
// exited: the later of the two starts the server again.
void ServerManager::finishPortRecovery(const ServerConfig& config)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    Detail::ServerRecord& server = record(id);
    if (!server.portRecovery.finish(!server.run))
        return;
    if (ServerRuntimeState* target = entry(id)) {
        target->status = ServerStatus::stopped;
        target->hasError = false;
        touch(id);
    }
    appendLine(id, PortRecovery::restartText(), false);
    scheduleStart(config, portRestartDelay);
}

// --- bookkeeping -----------------------------------------------------------

Detail::ServerRecord& ServerManager::record(const QUuid& id)
{
    std::unique_ptr<Detail::ServerRecord>& found = m_records[id];
    if (!found)
        found = std::make_unique<Detail::ServerRecord>();
    return *found;
}

const Detail::ServerRecord* ServerManager::findRecord(const QUuid& id) const
{
    const auto it = m_records.find(id);
    return it == m_records.end() ? nullptr : it->second.get();
}

ServerRuntimeState* ServerManager::entry(const QUuid& id)
{
    const auto it = m_states.find(id);
    return it == m_states.end() ? nullptr : &*it;
}

ServerRuntimeState& ServerManager::ensureEntry(const QUuid& id)
{
    auto it = m_states.find(id);
    if (it == m_states.end()) {
        ServerRuntimeState fresh;
        fresh.logs = LogRing(id);
        it = m_states.insert(id, std::move(fresh));
    }
    return *it;
}

void ServerManager::touch(const QUuid& id)
{
    Q_ASSERT(m_changes);
    m_changes->touch(id);
}

void ServerManager::appendLine(const QUuid& id, const QString& text, bool isError)
{
    Q_ASSERT(m_changes);
    ServerRuntimeState& target = ensureEntry(id);
    const quint64 seq = ++record(id).lastSeq;
    Detail::ChangeBatch::Server& change = m_changes->server(id);
    const QByteArray& utf8 = change.ownedTexts.emplace_back(text.toUtf8());
    target.logs.append(QByteArrayView(utf8), m_changes->msecs(), isError, seq);
    Detail::ChangeBatch::lineAppended(change, seq, QByteArrayView(utf8), isError);
}

void ServerManager::flushChanges()
{
    const std::unique_ptr<Detail::ChangeBatch> changes = std::move(m_changes);
    const QDateTime date = changes->dateIfTaken();
    for (const QUuid& id : changes->order()) {
        const Detail::ChangeBatch::Server& change = changes->server(id);
        if (change.runs.empty() && !change.cleared && change.count == 0 && !change.stateChanged)
            continue;
        if (!change.runs.empty())
            Q_EMIT linesCaptured(id, LineBatch { date, change.lines() });
        if (change.cleared)
            Q_EMIT logCleared(id);
        if (change.count > 0)
            Q_EMIT linesAppended(id, change.firstSeq, change.count);
        if (change.stateChanged)
            Q_EMIT stateChanged(id);
    }
}

void ServerManager::checkShutdownFinished()
{
    if (!m_shutdown || m_shutdown->reported)
        return;
    if (!m_liveRuns.isEmpty())
        return; // the exit of the last run calls this again
    if (!ProcessTree::alive(m_shutdown->processes).isEmpty()) {
        // Descendants are not ours to wait for; look again shortly.
        QTimer::singleShot(20, this, [this] { checkShutdownFinished(); });
        return;
    }
    m_shutdown->reported = true;
    Q_EMIT shutdownFinished();
}

void ServerManager::checkIdle()
{
    if (isIdle())
        Q_EMIT idle();
}

} // namespace Wardlamp
