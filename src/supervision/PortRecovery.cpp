#include "PortRecovery.h"

#include "ListenerScanner.h"
#include "ProcessTree.h"

#include <QStringList>

#include <csignal>
#include <thread>

#include <unistd.h>

namespace Wardlamp {

bool PortRecovery::canBegin(std::optional<TimePoint> lastBeganAt, TimePoint now, std::chrono::milliseconds cooldown)
{
    return !lastBeganAt || now - *lastBeganAt >= cooldown;
}

std::optional<quint64> PortRecovery::begin(TimePoint now)
{
    if (m_recovering || !canBegin(m_lastBeganAt, now, m_cooldown))
        return std::nullopt;
    m_recovering = true;
    m_freed = false;
    m_lastBeganAt = now;
    return ++m_attempt;
}

void PortRecovery::portFreed(quint64 attempt)
{
    if (m_recovering && attempt == m_attempt)
        m_freed = true;
}

bool PortRecovery::finish(bool processGone)
{
    if (!m_recovering || !m_freed || !processGone)
        return false;
    abandon();
    return true;
}

void PortRecovery::abandon()
{
    m_recovering = false;
    m_freed = false;
}

QString PortRecovery::beginText(int port)
{
    return QStringLiteral("\u26A0\uFE0E Port ") + QString::number(port)
        + QStringLiteral(" already in use \u2014 freeing it and restarting\u2026");
}

QString PortRecovery::resultText(int port, const QList<qint32>& pids)
{
    if (pids.isEmpty())
        return QStringLiteral("No listening process found on port ") + QString::number(port)
            + QStringLiteral("; retrying anyway.");
    QStringList numbers;
    for (qint32 pid : pids)
        numbers.append(QString::number(pid));
    return QStringLiteral("Freed port ") + QString::number(port) + QStringLiteral(" (stopped PID ")
        + numbers.join(QStringLiteral(", ")) + QStringLiteral(").");
}

QString PortRecovery::heldText(int port, const QList<Holder>& holders)
{
    if (holders.isEmpty())
        return QStringLiteral("No listening process found on port ") + QString::number(port)
            + QStringLiteral("; the server went on.");
    QStringList named;
    for (const Holder& holder : holders) {
        QString text = QStringLiteral("PID ") + QString::number(holder.pid);
        if (!holder.commandLine.isEmpty())
            text += QStringLiteral(" (") + holder.commandLine + u')';
        named.append(text);
    }
    return QStringLiteral("Port ") + QString::number(port) + QStringLiteral(" is held by ")
        + named.join(QStringLiteral(", ")) + QStringLiteral("; the server went on.");
}

QString PortRecovery::restartText()
{
    return QStringLiteral("\u21BB Restarting\u2026");
}

QList<PortRecovery::Holder> PortRecovery::holders(const ListenerScanner* scanner, int port)
{
    QList<Holder> result;
    if (!scanner || port <= 0 || port > 65535)
        return result;
    QList<qint32> pids = scanner->listeningPids(quint16(port));
    pids.removeAll(qint32(::getpid()));
    for (qint32 pid : std::as_const(pids)) {
        Holder holder { pid, QString() };
        const QByteArray path = "/proc/" + QByteArray::number(pid) + "/cmdline";
        if (const std::optional<QByteArray> cmdline = ProcessTree::readProcFile(path.constData(), 4096)) {
            QByteArray text = *cmdline;
            text.replace('\0', ' ');
            // Shown on one log line: no control characters.
            for (char& c : text) {
                if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
                    c = ' ';
            }
            holder.commandLine = QString::fromUtf8(text.trimmed());
        }
        result.append(holder);
    }
    return result;
}

QList<qint32> PortRecovery::freePort(const ListenerScanner* scanner, int port, std::chrono::milliseconds grace)
{
    QList<qint32> pids;
    if (scanner && port > 0 && port <= 65535)
        pids = scanner->listeningPids(quint16(port));
    pids.removeAll(qint32(::getpid()));
    for (qint32 pid : std::as_const(pids))
        ::kill(pid, SIGTERM);
    if (!pids.isEmpty()) {
        std::this_thread::sleep_for(grace);
        for (qint32 pid : std::as_const(pids)) {
            if (::kill(pid, 0) == 0)
                ::kill(pid, SIGKILL);
        }
    }
    return pids;
}

} // namespace Wardlamp
