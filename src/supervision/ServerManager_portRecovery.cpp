#include "ServerManager.h"

#include "ListenerScanner.h"
#include "RestartPolicy.h"
#include "ServerManager_p.h"

#include <QThreadPool>

#include <csignal>
#include <thread>

#include <unistd.h>

namespace Wardlamp {

namespace {

const QString textRestarting = QStringLiteral("\u21BB Restarting\u2026");

} // namespace

// Port recovery: a busy port found in the output is freed, then the server starts again.

void ServerManager::handlePortInUse(const ServerConfig& config, int port)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    if (m_portRecovering.contains(id))
        return;
    const auto last = m_lastPortRecoveryAt.constFind(id);
    const auto now = m_clock();
    if (!RestartPolicy::canRecoverPort(
            last == m_lastPortRecoveryAt.constEnd() ? std::nullopt : std::optional(*last), now, portRecoveryCooldown))
        return;
    m_portRecovering.insert(id);
    m_portFreed.remove(id);
    m_lastRestartAt.remove(id);
    m_lastPortRecoveryAt.insert(id, now);
    appendLine(id,
        QStringLiteral("\u26A0\uFE0E Port ") + QString::number(port)
            + QStringLiteral(" already in use \u2014 freeing it and restarting\u2026"),
        false);

    // The scan and the grace sleep block: they run on a pool thread and report
    // back through the post box, which drops the report once we are gone.
    std::weak_ptr<Detail::PostBox> box = m_postBox;
    std::shared_ptr<const ListenerScanner> scanner = m_scanner;
    QThreadPool::globalInstance()->start([this, box, scanner, config, port] {
        const QList<qint32> pids = freePort(scanner.get(), port);
        if (const auto postBox = box.lock())
            postBox->post([this, config, port, pids] { handlePortFreed(config, port, pids); });
    });
}

QList<qint32> ServerManager::freePort(const ListenerScanner* scanner, int port)
{
    QList<qint32> pids;
    if (scanner && port > 0 && port <= 65535)
        pids = scanner->listeningPids(quint16(port));
    pids.removeAll(qint32(::getpid()));
    for (qint32 pid : std::as_const(pids))
        ::kill(pid, SIGTERM);
    if (!pids.isEmpty()) {
        std::this_thread::sleep_for(portKillGrace);
        for (qint32 pid : std::as_const(pids)) {
            if (::kill(pid, 0) == 0)
                ::kill(pid, SIGKILL);
        }
    }
    return pids;
}

void ServerManager::handlePortFreed(const ServerConfig& config, int port, const QList<qint32>& pids)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    if (!pids.isEmpty()) {
        QStringList numbers;
        for (qint32 pid : pids)
            numbers.append(QString::number(pid));
        appendLine(id,
            QStringLiteral("Freed port ") + QString::number(port) + QStringLiteral(" (stopped PID ")
                + numbers.join(QStringLiteral(", ")) + QStringLiteral(")."),
            false);
    } else {
        appendLine(id,
            QStringLiteral("No listening process found on port ") + QString::number(port)
                + QStringLiteral("; retrying anyway."),
            false);
    }
    m_portFreed.insert(id);
    finishPortRecovery(config);
}

void ServerManager::finishPortRecovery(const ServerConfig& config)
{
    ChangeScope scope(*this);
    const QUuid& id = config.id;
    if (!m_portRecovering.contains(id) || !m_portFreed.contains(id))
        return;
    if (m_processes.contains(id))
        return; // the failing process has not exited yet; its exit comes back here
    m_portRecovering.remove(id);
    m_portFreed.remove(id);
    if (ServerRuntimeState* target = entry(id)) {
        target->status = ServerStatus::stopped;
        target->hasError = false;
        touch(id);
    }
    appendLine(id, textRestarting, false);
    scheduleStart(config, portRestartDelay);
}

} // namespace Wardlamp
