#pragma once

#include "LineBatch.h"
#include "PortRecovery.h"
#include "PreviousRun.h"
#include "RestartPolicy.h"
#include "ServerConfig.h"
#include "ServerRuntimeState.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <chrono>
#include <functional>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Wardlamp {

class ErrorAlertService;
class ListenerScanner;
class Subreaper;

namespace Detail {
class ChangeBatch;
class OutputPump;
class PostBox;
class ProcessRun;
struct PendingOutput;
struct ServerRecord;
} // namespace Detail

// What a ServerManager is built with.
struct ServerManagerOptions {
    using Clock = std::function<std::chrono::steady_clock::time_point()>;

    // The user's login shell (LoginShell resolves it); empty means "/bin/sh".
    QString loginShell;
    // Finds port listeners for port recovery; none means no listener is ever found.
    std::shared_ptr<const ListenerScanner> listenerScanner;
    // Monotonic time for the restart and port-recovery cooldowns; defaults to steady_clock.
    Clock clock;
    // Where errors are reported; none: no alerts. Not owned.
    ErrorAlertService* alertService = nullptr;
    // The process's subreaper, when the program installed one: every child is
    // claimed there, so its sweep leaves the exit status to the manager. Not
    // owned; must outlive the manager.
    Subreaper* subreaper = nullptr;
};

// Runs the configured servers as child processes and keeps, per server id, a
// runtime record (status, pid, bounded log, error flag, last exit, start time).
//
// Owner: the application object graph (one per process). Thread: main thread
// only; an internal output thread (Detail::OutputPump, with a waiter thread
// per quiet pipe) reads every child's pipes and collects its exit, and hands
// batches of assembled lines back through queued calls.
//
// Every start creates a fresh run object; output and exits are tagged with
// their run, so the late exit or output of a replaced run reaches nothing.
// Observers are told once per server per batch of changes (stateChanged,
// linesAppended, logCleared), never once per line or per field.
//
// Per server the manager keeps the published runtime state (states()) and a
// private record (Detail::ServerRecord): the current run, the requested-stop
// flags, the crash-restart policy and the port recovery, each owning its own
// state. ServerManager.cpp reads as the state machine: operations, then
// output, then exits, then port recovery.
class ServerManager : public QObject {
    Q_OBJECT

public:
    using Clock = ServerManagerOptions::Clock;

    using Options = ServerManagerOptions;

    static constexpr int maxLogLines = LogRing::defaultCapacity;
    static constexpr std::chrono::milliseconds restartCooldown = RestartPolicy::defaultCooldown;
    static constexpr std::chrono::milliseconds portRecoveryCooldown = PortRecovery::defaultCooldown;
    static constexpr std::chrono::milliseconds stopGracePeriod { 3000 };

    // Marks every process started from now on as one of this configuration's
    // (Leftovers::tagVariable); empty: no mark. The supervisor lock's key.
    void setConfigurationTag(const QByteArray& tag);
    // Stops what an earlier supervisor of this configuration left running
    // (it was killed with SIGKILL: its servers' children lived on), saying
    // so on standard error: SIGTERM, then SIGKILL after stopGracePeriod.
    // Blocks until they are gone. Call with the configuration's lock held and
    // before the first start. Returns how many processes it found.
    int stopLeftovers();
    static constexpr std::chrono::milliseconds replacedRunGracePeriod { 2000 };
    static constexpr std::chrono::milliseconds crashRestartDelay { 1000 };
    static constexpr std::chrono::milliseconds portRestartDelay { 300 };
    // A run that exits this soon after saying it carries on with another
    // port did not: its port is freed and it starts again.
    static constexpr std::chrono::milliseconds carryOnExitWindow { 5000 };
    static constexpr std::chrono::milliseconds portKillGrace = PortRecovery::killGrace;

    // Installs the process's SIGURG handler, with which quiet pipes are left
    // to waiter threads instead of being polled (Detail::PipeWaiter says why).
    // Process-wide, so the library never does it by itself: the program calls
    // it once, before it builds managers. Without it pipes are watched with
    // epoll: correct, at the cost of a wake-up per write. False when the
    // application handles SIGURG itself.
    static bool installPipeWakeSignal();

    explicit ServerManager(Options options = {}, QObject* parent = nullptr);
    // Kills (SIGKILL) whatever process trees are still running; call shutdown()
    // first for an orderly end.
    ~ServerManager() override;

    // --- queries -----------------------------------------------------------
    // The entry for the id, or the default state (stopped, empty) when there is none.
    const ServerRuntimeState& state(const QUuid& id) const;
    const QHash<QUuid, ServerRuntimeState>& states() const { return m_states; }
    bool anyRunning() const;
    bool anyError() const;
    int runningCount() const;
    QString loginShell() const { return m_loginShell; }
    // The run before the current one (its log, start and end), once a start
    // has begun a new log; nothing before that.
    const PreviousRun* previousRun(const QUuid& id) const;

    // True while some child started by this manager has not yet exited, or its
    // exit and last output have not yet been handled. allProcessesExited() is
    // emitted when this turns false.
    bool anyProcessAlive() const;
    // True while a start is on its way: a delayed start (crash restart,
    // restart after a requested stop, restart after a port recovery) is
    // waiting for its timer, or a port recovery that ends in a start is
    // under way.
    bool hasScheduledStarts() const;
    // No process alive, every exit and line handled, and no start on its way:
    // nothing changes any more unless someone calls an operation. idle() is
    // emitted each time this turns true.
    bool isIdle() const { return !anyProcessAlive() && !hasScheduledStarts(); }

    // --- operations (main thread; never throw) -----------------------------
    void start(const ServerConfig& config);
    void stop(const ServerConfig& config);
    void restart(const ServerConfig& config);
    void startAutostartServers(const QList<ServerConfig>& servers);
    // SIGTERM to every live run's whole process tree, without a forced kill and
    // without touching any state; their exits are handled as requested stops.
    void stopAll();
    void clearLogs(const QUuid& id);

    // Orderly end for the daemon: SIGTERM to every process tree (current and
    // replaced runs), SIGKILL to what is left after `grace`, then
    // shutdownFinished() once every process of every tree is gone. Exits are
    // handled as requested stops. Starts after this call are refused.
    void shutdown(std::chrono::milliseconds grace);

    // Appends one line (creating the default entry for an unknown id).
    void appendLog(const QUuid& id, const QString& text, bool isError);
    // hasError := true, running -> error, and an alert with the message.
    void markError(const ServerConfig& config, const QString& message);

    // Whether an automatic crash restart of the id is allowed now.
    bool canAutoRestart(const QUuid& id) const;

Q_SIGNALS:
    // The entry of the id changed (status, pid, flags or log); once per batch.
    void stateChanged(const QUuid& id);
    // Lines firstSeq .. firstSeq + count - 1 were appended to the id's log, in
    // one batch; those older than the log's first line were already evicted.
    void linesAppended(const QUuid& id, quint64 firstSeq, int count);
    // The id's log was emptied (clearLogs, or a start that begins a new log).
    void logCleared(const QUuid& id);
    // A start kept the log it replaced as the previous run (previousRun()).
    void previousRunChanged(const QUuid& id);
    // Every line appended in one batch, including lines the cap evicted within
    // it, emitted synchronously before linesAppended. Connect directly: the
    // batch's views are valid only during the call.
    void linesCaptured(const QUuid& id, const Wardlamp::LineBatch& batch);
    void allProcessesExited();
    // isIdle() turned true (emitted after allProcessesExited when both apply).
    void idle();
    void shutdownFinished();

private:
    class ChangeScope;
    friend class ChangeScope;
    struct Shutdown;
    struct UuidHash {
        std::size_t operator()(const QUuid& id) const { return qHash(id); }
    };

    // --- runs
    void launch(const ServerConfig& config, Detail::ServerRecord& record);
    void retireRun(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace);
    void scheduleForcedKill(const std::shared_ptr<Detail::ProcessRun>& run, std::chrono::milliseconds grace);
    void scheduleStart(const ServerConfig& config, std::chrono::milliseconds delay);
    // --- output and exits
    void handleOutput(const std::shared_ptr<Detail::ProcessRun>& run);
    void handleOutputLines(const std::shared_ptr<Detail::ProcessRun>& run, Detail::PendingOutput& output);
    void handleRunFinished(const std::shared_ptr<Detail::ProcessRun>& run, int status, bool bySignal);
    void handleTermination(const ServerConfig& config, int status, bool bySignal);
    // --- port recovery
    // Begins a port recovery; false when one is under way or the cooldown
    // forbids it.
    bool handlePortInUse(const ServerConfig& config, int port);
    // An in-use message after which the server carries on: names the holder.
    void handlePortCarryOn(const ServerConfig& config, const std::shared_ptr<Detail::ProcessRun>& run, int port);
    void handlePortFreed(const ServerConfig& config, quint64 attempt, int port, const QList<qint32>& pids);
    void finishPortRecovery(const ServerConfig& config);
    // --- bookkeeping
    Detail::ServerRecord& record(const QUuid& id);
    const Detail::ServerRecord* findRecord(const QUuid& id) const;
    ServerRuntimeState* entry(const QUuid& id);
    ServerRuntimeState& ensureEntry(const QUuid& id);
    void touch(const QUuid& id);
    void appendLine(const QUuid& id, const QString& text, bool isError);
    void flushChanges();
    void checkShutdownFinished();
    void checkIdle();

    const QString m_loginShell;
    const std::shared_ptr<const ListenerScanner> m_scanner;
    const Clock m_clock;
    QByteArray m_configurationTag;
    ErrorAlertService* const m_alerts; // may be null
    Subreaper* const m_subreaper; // may be null
    std::unique_ptr<Detail::OutputPump> m_pump; // null when it could not be set up
    QString m_pumpProblem; // why not
    std::shared_ptr<Detail::PostBox> m_postBox;

    QHash<QUuid, ServerRuntimeState> m_states; // published
    // One record per id ever met, kept for the life of the manager; held by
    // pointer, so a reference to a record stays valid while others are added.
    std::unordered_map<QUuid, std::unique_ptr<Detail::ServerRecord>, UuidHash> m_records;
    QList<std::shared_ptr<Detail::ProcessRun>> m_liveRuns; // every run not yet finished, current or replaced
    int m_pendingStarts = 0; // delayed starts whose timer has not fired yet
    std::unique_ptr<Shutdown> m_shutdown; // every process signalled by shutdown()

    // Changes collected while an operation runs, announced when the outermost
    // operation ends.
    int m_scopeDepth = 0;
    std::unique_ptr<Detail::ChangeBatch> m_changes;
};

} // namespace Wardlamp
