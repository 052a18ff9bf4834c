#include "ServerManager.h"

#include "ErrorAlertService.h"
#include "OutputPump.h"
#include "PortInUse.h"
#include "ProcessRun.h"
#include "ServerManager_p.h"
#include "Subreaper.h"

namespace Wardlamp {

namespace {

const QString textStopped = QStringLiteral("\u25A0 Stopped.");
const QString textStoppedRestarting = QStringLiteral("\u25A0 Stopped (restarting\u2026)");
const QString textStoppedExit0 = QStringLiteral("\u25A0 Stopped (exit 0)");
const QString textServerPrefix = QStringLiteral("\u2716 Server ");
const QString textAutoRestarting = QStringLiteral("\u21BB Auto-restarting\u2026");

} // namespace

// Output and exits of runs: the main-thread half of the output thread.

void ServerManager::handleOutput(const std::shared_ptr<Detail::ProcessRun>& run)
{
    Detail::PendingOutput output = m_pump->take(run);
    if (output.isEmpty())
        return;
    const bool current = !run->discard.load() && m_processes.value(run->config.id) == run;
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
    Changes::Server& change = m_changes->server(id);
    change.stateChanged = true;
    if (change.tap.empty())
        change.tap.swap(m_spareTap); // keeps its pages: no fresh memory per batch
    change.tap.reserve(change.tap.size() + count);
    std::optional<QString> firstError;
    bool portHandled = false;
    // Stable while this loop runs: only this id's entry is ever looked up again.
    quint64& lastSeq = m_lastSeq[id];
    const qint64 msecs = batchMSecs();

    for (std::size_t i = 0; i < count; ++i) {
        const Detail::RawLine& raw = output.lines[i];
        const QByteArrayView bytes = output.text(raw);
        const bool isError = raw.flags & Detail::RawLine::Error;
        const quint64 seq = ++lastSeq;
        if (change.count++ == 0)
            change.firstSeq = seq;
        change.tap.push_back(CapturedLine { seq, bytes, isError });

        // A line followed by a full log's worth of lines in this same batch
        // would be evicted at once: it is counted and tapped, never stored.
        if (count - 1 - i < std::size_t(maxLogLines))
            target.logs.append(bytes, msecs, isError, seq);
        // Text only for the alert and the port check, which few lines need.
        const bool needsText = (isError && !firstError) || (raw.flags & Detail::RawLine::MaybePort);
        QString text;
        if (needsText)
            text = QString::fromUtf8(bytes);
        if (isError) {
            target.hasError = true;
            if (target.status == ServerStatus::running)
                target.status = ServerStatus::error;
            if (!firstError)
                firstError = text;
        }
        if (!portHandled && (raw.flags & Detail::RawLine::MaybePort)) {
            if (const auto port = PortInUse::detect(text)) {
                handlePortInUse(config, *port);
                // Further port messages of this batch meet a running recovery or
                // the same cooldown, and are ignored either way.
                portHandled = true;
            }
        }
    }
    // The alert service lets one alert per server through every 30 s, so within
    // one batch only the first error line can raise one.
    if (firstError)
        m_alerts->alert(config, *firstError);
}

void ServerManager::handleRunFinished(const std::shared_ptr<Detail::ProcessRun>& run, int status, bool bySignal)
{
    run->finished = true;
    m_liveRuns.removeOne(run);
    Subreaper::release(run->pid);
    if (m_shutdown)
        m_shutdown->processes.append(run->signalled);
    if (m_processes.value(run->config.id) != run)
        return; // a replaced run: its exit concerns nobody
    handleTermination(run->config, status, bySignal);
}

void ServerManager::handleTermination(const ServerConfig& config, int status, bool bySignal)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    m_processes.remove(id);
    if (ServerRuntimeState* target = entry(id)) {
        target->pid.reset();
        target->lastExitCode = status;
        touch(id);
    }

    if (m_intentionalStops.remove(id)) {
        m_portRecovering.remove(id);
        m_portFreed.remove(id);
        if (m_restartAfterStop.remove(id)) {
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

    if (m_portRecovering.contains(id)) {
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
    if (!config.restartOnCrash || !canAutoRestart(id))
        return;
    m_lastRestartAt.insert(id, m_clock());
    appendLine(id, textAutoRestarting, false);
    scheduleStart(config, crashRestartDelay);
}

} // namespace Wardlamp
