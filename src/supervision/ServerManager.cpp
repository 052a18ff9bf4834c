#include "ServerManager.h"

#include "ErrorAlertService.h"
#include "ListenerScanner.h"
#include "OutputPump.h"
#include "ProcessRun.h"
#include "ProcessSpawner.h"
#include "ProcessTree.h"
#include "RestartPolicy.h"
#include "ServerManager_p.h"
#include "ShellCommand.h"
#include "Subreaper.h"

#include <QLoggingCategory>
#include <QMetaObject>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <cstring>

#include <sys/wait.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcSupervision, "wardlamp.supervision")

// Captured-line records kept for reuse between batches (2 MiB: a megabyte
// batch of 16-byte lines).
constexpr std::size_t maxSpareTapLines = 64 * 1024;

const QString textNoCommand = QStringLiteral("No command configured.");
const QString textStarted = QStringLiteral("\u25B6\uFE0E Started: ");
const QString textFailedToStart = QStringLiteral("Failed to start: ");
const QString textStopping = QStringLiteral("\u25A0 Stopping\u2026");

// Variables a server must never see: the pairing secret and its password (and
// a run tag inherited from whoever started us, replaced by the run's own).
const QList<QByteArray> scrubbedEnvironment = { QByteArrayLiteral("WL_REMOTE_SECRET"),
    QByteArrayLiteral("WL_REMOTE_PASSWORD"), QByteArrayLiteral("WARDLAMP_RUN_TAG") };
// Marks every process of one run (see ServerManager::signalTree).
const QByteArray runTagVariable = QByteArrayLiteral("WARDLAMP_RUN_TAG");

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

ServerManager::ServerManager(Options options, QObject* parent)
    : QObject(parent)
    , m_loginShell(options.loginShell.isEmpty() ? QStringLiteral("/bin/sh") : options.loginShell)
    , m_scanner(std::move(options.listenerScanner))
    , m_clock(options.clock ? std::move(options.clock) : Clock([] { return std::chrono::steady_clock::now(); }))
    , m_alerts(options.alertService ? options.alertService : &ErrorAlertService::shared())
    , m_postBox(std::make_shared<Detail::PostBox>(this))
{
    std::weak_ptr<Detail::PostBox> box = m_postBox;
    m_pump = std::make_unique<Detail::OutputPump>([this, box](const std::shared_ptr<Detail::ProcessRun>& run) {
        // Output thread: one queued call per batch; it does nothing once the manager is gone.
        if (const auto postBox = box.lock())
            postBox->post([this, run] { handleOutput(run); });
    });
}

ServerManager::~ServerManager()
{
    m_postBox->close();
    // Nothing may outlive its supervisor: kill what is left and collect the children.
    for (const auto& run : std::as_const(m_liveRuns))
        signalTree(run, SIGKILL);
    m_pump.reset();
    for (const auto& run : std::as_const(m_liveRuns)) {
        if (!run->finishedReading) {
            siginfo_t info {};
            while (::waitid(idtype_t(3 /* P_PIDFD */), id_t(run->pidfd), &info, WEXITED) < 0 && errno == EINTR) { }
        }
        Subreaper::release(run->pid);
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
    // A recovery whose failing process has gone always ends in a start; one
    // whose process is still there counts as alive anyway.
    return m_pendingStarts > 0 || !m_portRecovering.isEmpty();
}

void ServerManager::checkIdle()
{
    if (isIdle())
        Q_EMIT idle();
}

bool ServerManager::canAutoRestart(const QUuid& id) const
{
    const auto it = m_lastRestartAt.constFind(id);
    return RestartPolicy::canAutoRestart(
        it == m_lastRestartAt.constEnd() ? std::nullopt : std::optional(*it), m_clock(), restartCooldown);
}

// --- change bookkeeping ----------------------------------------------------

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
    m_changes->server(id).stateChanged = true;
}

QDateTime ServerManager::batchDate()
{
    Q_ASSERT(m_changes);
    if (!m_changes->date)
        m_changes->date = QDateTime::currentDateTime();
    return *m_changes->date;
}

quint64 ServerManager::nextSeq(const QUuid& id, int count)
{
    quint64& last = m_lastSeq[id];
    const quint64 first = last + 1;
    last += quint64(count);
    return first;
}

qint64 ServerManager::batchMSecs()
{
    Q_ASSERT(m_changes);
    if (!m_changes->msecs)
        m_changes->msecs = batchDate().toMSecsSinceEpoch();
    return *m_changes->msecs;
}

void ServerManager::appendLine(const QUuid& id, const QString& text, bool isError)
{
    ServerRuntimeState& target = ensureEntry(id);
    const quint64 seq = nextSeq(id);
    Changes::Server& change = m_changes->server(id);
    change.stateChanged = true;
    if (change.count++ == 0)
        change.firstSeq = seq;
    const QByteArray& utf8 = change.ownedTexts.emplace_back(text.toUtf8());
    target.logs.append(QByteArrayView(utf8), batchMSecs(), isError, seq);
    change.tap.push_back(CapturedLine { seq, QByteArrayView(utf8), isError });
}

void ServerManager::flushChanges()
{
    const std::unique_ptr<Changes> changes = std::move(m_changes);
    const QDateTime date = changes->date.value_or(QDateTime());
    for (const QUuid& id : std::as_const(changes->order)) {
        const Changes::Server& change = changes->servers[id];
        if (change.tap.empty() && !change.cleared && change.count == 0 && !change.stateChanged)
            continue;
        if (!change.tap.empty())
            Q_EMIT linesCaptured(id, LineBatch { date, std::span<const CapturedLine>(change.tap) });
        if (change.cleared)
            Q_EMIT logCleared(id);
        if (change.count > 0)
            Q_EMIT linesAppended(id, change.firstSeq, change.count);
        if (change.stateChanged)
            Q_EMIT stateChanged(id);
    }
    // Keep the largest tap buffer for the next batch, but not one a burst made:
    // small batches would carry it on for the life of the manager.
    for (Changes::Server& change : changes->servers) {
        if (change.tap.capacity() > m_spareTap.capacity() && change.tap.capacity() <= maxSpareTapLines) {
            change.tap.clear();
            m_spareTap.swap(change.tap);
        }
    }
}

// --- operations ------------------------------------------------------------

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
    m_alerts->alert(config, message);
}

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
    if (const auto old = m_processes.take(id))
        retireRun(old, replacedRunGracePeriod);
    m_intentionalStops.remove(id);
    m_restartAfterStop.remove(id);
    // A port recovery under way belongs to the run it began in. Left in place
    // it would wait for this new run's exit and take it for its own: a crash
    // of the new run would pass unreported and be restarted as a recovery.
    m_portRecovering.remove(id);
    m_portFreed.remove(id);

    ServerRuntimeState& target = ensureEntry(id);
    const bool hadLines = !target.logs.isEmpty();
    target = ServerRuntimeState {};
    target.logs = LogRing(id);
    target.status = ServerStatus::running;
    target.startedAt = batchDate();
    Changes::Server& change = m_changes->server(id);
    change.stateChanged = true;
    if (hadLines) {
        change.cleared = true;
        change.count = 0;
    }
    launch(config);
}

void ServerManager::launch(const ServerConfig& config)
{
    const QUuid& id = config.id;
    const QStringList arguments = ShellCommand::arguments(config.command, config.directory, m_loginShell);
    QList<QByteArray> argv;
    for (const QString& argument : arguments)
        argv.append(argument.toUtf8());
    int forkedPid = -1;
    // A value no other run shares: every process of this run inherits it.
    const QByteArray tag = QUuid::createUuid().toByteArray(QUuid::WithoutBraces);
    const ProcessSpawner::Result result = ProcessSpawner::spawn(
        m_loginShell.toLocal8Bit(), argv, scrubbedEnvironment, { runTagVariable + '=' + tag }, [&forkedPid](int pid) {
            // Claimed before anything can reap it, so only we collect its status.
            forkedPid = pid;
            Subreaper::claim(pid);
        });
    if (const int* error = std::get_if<int>(&result)) {
        if (forkedPid > 0)
            Subreaper::release(forkedPid);
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::error;
            target->hasError = true;
            touch(id);
        }
        appendLine(id, textFailedToStart + QString::fromLocal8Bit(std::strerror(*error)), true);
        return;
    }
    const auto& child = std::get<ProcessSpawner::Child>(result);
    auto run = std::make_shared<Detail::ProcessRun>(config, child.pid, child.pidfd, child.stdoutFd, child.stderrFd);
    run->tag = tag;
    m_processes.insert(id, run);
    m_liveRuns.append(run);
    m_pump->add(run);
    if (ServerRuntimeState* target = entry(id)) {
        target->pid = child.pid;
        touch(id);
    }
    appendLine(id, textStarted + config.command, false);
}

void ServerManager::retireRun(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace)
{
    // Its remaining output is read and dropped, its exit reaches nothing.
    run->discard.store(true);
    signalTree(run, SIGTERM);
    scheduleForcedKill(run, grace);
}

void ServerManager::signalTree(const std::shared_ptr<Detail::ProcessRun>& run, int signal)
{
    // The tree is taken afresh each time (a child may have forked since); the
    // members seen before stay part of it after the root has gone.
    // Descendants that daemonised (setsid, then a double fork whose middle
    // exited) have neither a parent chain to the root nor its group: they are
    // found by the tag their environment inherited.
    const ProcessTree snapshot = ProcessTree::snapshot();
    for (const ProcessInfo& escaped : ProcessTree::withEnvironment(snapshot.processes(), runTagVariable, run->tag)) {
        if (escaped.pid != ::getpid() && !run->signalled.contains(escaped))
            run->signalled.append(escaped);
    }
    const QList<ProcessInfo> members = ProcessTree::signalTree(run->pid, signal, run->signalled);
    for (const ProcessInfo& member : members) {
        if (!run->signalled.contains(member))
            run->signalled.append(member);
    }
}

void ServerManager::scheduleForcedKill(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace)
{
    // The timer keeps the run: descendants may outlive the root and its exit handling.
    QTimer::singleShot(grace, Qt::PreciseTimer, this, [this, run] {
        // Whatever of the tree survived the grace period, root or descendant.
        if (!run->finished || !ProcessTree::alive(run->signalled).isEmpty())
            signalTree(run, SIGKILL);
    });
}

void ServerManager::stop(const ServerConfig& config)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    m_intentionalStops.insert(id);
    if (const auto run = m_processes.value(id)) {
        if (ServerRuntimeState* target = entry(id)) {
            target->status = ServerStatus::stopped;
            target->hasError = false;
            target->pid.reset();
            touch(id);
        }
        appendLine(id, textStopping, false);
        signalTree(run, SIGTERM);
        scheduleForcedKill(run, stopGracePeriod);
        return;
    }
    if (ServerRuntimeState* target = entry(id)) {
        target->status = ServerStatus::stopped;
        touch(id);
    }
    m_intentionalStops.remove(id);
    if (m_restartAfterStop.remove(id))
        start(config);
}

void ServerManager::restart(const ServerConfig& config)
{
    if (state(config.id).status == ServerStatus::running) {
        ChangeScope scope(*this);
        m_restartAfterStop.insert(config.id);
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
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it) {
        // finishedReading belongs to the output thread; this flag is the one we may read here.
        if (it.value()->reaped.load())
            continue;
        m_intentionalStops.insert(it.key());
        signalTree(it.value(), SIGTERM);
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
    Changes::Server& change = m_changes->server(id);
    change.stateChanged = true;
    change.cleared = true;
    change.count = 0;
}

void ServerManager::shutdown(std::chrono::milliseconds grace)
{
    if (!m_shutdown)
        m_shutdown = std::make_unique<Shutdown>();
    for (auto it = m_processes.cbegin(); it != m_processes.cend(); ++it)
        m_intentionalStops.insert(it.key());
    const auto runs = m_liveRuns;
    for (const auto& run : runs)
        signalTree(run, SIGTERM);
    QTimer::singleShot(grace, Qt::PreciseTimer, this, [this] {
        const auto remaining = m_liveRuns;
        for (const auto& run : remaining)
            signalTree(run, SIGKILL);
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

} // namespace Wardlamp
