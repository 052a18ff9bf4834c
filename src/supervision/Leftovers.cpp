#include "Leftovers.h"

#include "ProcessTree.h"

#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <vector>

#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

bool ownedByUs(pid_t pid)
{
    struct stat info { };
    const QByteArray path = "/proc/" + QByteArray::number(pid);
    return ::stat(path.constData(), &info) == 0 && info.st_uid == ::getuid();
}

QString commandLine(pid_t pid)
{
    const QByteArray path = "/proc/" + QByteArray::number(pid) + "/cmdline";
    const std::optional<QByteArray> read = ProcessTree::readProcFile(path.constData(), 4096);
    if (!read)
        return QString();
    QByteArray text = *read;
    for (char& c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    return QString::fromUtf8(text.trimmed());
}

} // namespace

QList<ProcessInfo> Leftovers::find(const QByteArray& tag)
{
    QList<ProcessInfo> found;
    if (tag.isEmpty())
        return found;
    const ProcessTree snapshot = ProcessTree::snapshot();
    QList<ProcessInfo> ours;
    for (const ProcessInfo& process : snapshot.processes()) {
        if (process.pid != ::getpid() && !process.hasEnded() && ownedByUs(process.pid))
            ours.append(process);
    }
    for (const ProcessInfo& tagged : ProcessTree::withEnvironment(ours, tagVariable, tag)) {
        // Descendants that dropped the variable still belong to the tree.
        for (const ProcessInfo& member : snapshot.treeOf(tagged.pid)) {
            if (member.pid != ::getpid() && !member.hasEnded() && !found.contains(member) && ours.contains(member))
                found.append(member);
        }
    }
    return found;
}

QList<ProcessInfo> Leftovers::stop(const QList<ProcessInfo>& processes, std::chrono::milliseconds grace)
{
    struct Target {
        ProcessInfo process;
        int pidfd = -1;
        bool gone = false;
    };
    std::vector<Target> targets;
    // Opened before anything is signalled, and only for the same process
    // (pid and start time): a pid reused meanwhile is left alone.
    for (const ProcessInfo& process : ProcessTree::alive(processes)) {
        const int pidfd = int(::syscall(SYS_pidfd_open, process.pid, 0));
        if (pidfd >= 0)
            targets.push_back({ process, pidfd, false });
    }
    for (const Target& target : targets)
        ::syscall(SYS_pidfd_send_signal, target.pidfd, SIGTERM, nullptr, 0);
    const auto deadline = std::chrono::steady_clock::now() + grace;
    for (;;) {
        std::vector<pollfd> fds;
        for (const Target& target : targets) {
            if (!target.gone)
                fds.push_back({ target.pidfd, POLLIN, 0 });
        }
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (fds.empty() || left.count() <= 0)
            break;
        if (::poll(fds.data(), nfds_t(fds.size()), int(left.count())) < 0 && errno != EINTR)
            break;
        for (const pollfd& fd : fds) {
            for (Target& target : targets) {
                if (fd.revents && target.pidfd == fd.fd)
                    target.gone = true;
            }
        }
    }
    QList<ProcessInfo> killed;
    for (Target& target : targets) {
        if (!target.gone) {
            ::syscall(SYS_pidfd_send_signal, target.pidfd, SIGKILL, nullptr, 0);
            killed.append(target.process);
        }
        ::close(target.pidfd);
    }
    return killed;
}

QString Leftovers::notice(const QList<ProcessInfo>& processes)
{
    QStringList named;
    for (const ProcessInfo& process : processes) {
        const QString command = commandLine(process.pid);
        named.append(QStringLiteral("PID ") + QString::number(process.pid)
            + (command.isEmpty() ? QString() : QStringLiteral(" (") + command + u')'));
    }
    return QStringLiteral("Stopping %1 process%2 left running by an earlier run of this configuration: %3")
        .arg(processes.size())
        .arg(processes.size() == 1 ? QString() : QStringLiteral("es"))
        .arg(named.join(QStringLiteral(", ")));
}

} // namespace Wardlamp
