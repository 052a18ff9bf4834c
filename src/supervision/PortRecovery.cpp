#include "PortRecovery.h"

#include "ListenerScanner.h"
#include "ProcessTree.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <vector>

#include <poll.h>
#include <sys/syscall.h>
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
    // Each holder through a pidfd: its exit can be waited for, and a signal
    // never reaches a later process that got the same pid. A holder whose
    // pidfd cannot be opened (gone already, or no descriptor left) is
    // signalled by pid, and waited for by polling.
    struct Target {
        qint32 pid = 0;
        int pidfd = -1;
        bool gone = false;
    };
    std::vector<Target> targets;
    targets.reserve(std::size_t(pids.size()));
    for (qint32 pid : std::as_const(pids))
        targets.push_back({ pid, int(::syscall(SYS_pidfd_open, pid, 0)), false });
    const auto send = [](const Target& target, int signal) {
        if (target.pidfd >= 0)
            ::syscall(SYS_pidfd_send_signal, target.pidfd, signal, nullptr, 0);
        else
            ::kill(target.pid, signal);
    };
    for (const Target& target : targets)
        send(target, SIGTERM);
    if (!targets.empty()) {
        // Up to the grace, and no longer than the holders take to exit.
        const auto deadline = std::chrono::steady_clock::now() + grace;
        for (;;) {
            std::vector<pollfd> fds;
            bool polling = false; // some holder without a pidfd is still there
            for (Target& target : targets) {
                if (target.gone)
                    continue;
                if (target.pidfd >= 0)
                    fds.push_back({ target.pidfd, POLLIN, 0 });
                else if (::kill(target.pid, 0) != 0)
                    target.gone = true;
                else
                    polling = true;
            }
            if (fds.empty() && !polling)
                break;
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0)
                break;
            const int timeout = polling ? int(std::min<long long>(left.count(), 10)) : int(left.count());
            const int ready = ::poll(fds.data(), nfds_t(fds.size()), timeout);
            if (ready < 0 && errno != EINTR)
                break;
            for (const pollfd& fd : fds) {
                if (fd.revents == 0)
                    continue;
                for (Target& target : targets) {
                    if (target.pidfd == fd.fd)
                        target.gone = true;
                }
            }
        }
        for (const Target& target : targets) {
            if (!target.gone && (target.pidfd >= 0 || ::kill(target.pid, 0) == 0))
                send(target, SIGKILL);
        }
    }
    for (const Target& target : targets) {
        if (target.pidfd >= 0)
            ::close(target.pidfd);
    }
    return pids;
}

} // namespace Wardlamp
