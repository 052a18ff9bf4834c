#include "supervision/ProcessTree.h"

#include <QHash>
#include <QLoggingCategory>
#include <QSet>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcProcessTree, "wardlamp.supervision")

// A stat line is a few hundred bytes; a command name is at most 64.
constexpr qsizetype statBufferSize = 1024;

// Reads <dirFd>/<name>/stat with plain syscalls: the scan runs when the user
// clicks stop, and /proc of a busy desktop holds hundreds of processes.
std::optional<ProcessInfo> readStatAt(int dirFd, const char* pidName)
{
    char path[64];
    const int written = std::snprintf(path, sizeof path, "%s/stat", pidName);
    if (written <= 0 || written >= static_cast<int>(sizeof path))
        return std::nullopt;
    const int fd = ::openat(dirFd, path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt; // vanished, or not ours to read
    char buffer[statBufferSize];
    ssize_t size = -1;
    do {
        size = ::read(fd, buffer, sizeof buffer - 1);
    } while (size < 0 && errno == EINTR);
    ::close(fd);
    if (size <= 0)
        return std::nullopt; // a process that ended between open and read reads as empty
    return ProcessTree::parseStat(buffer, size);
}

bool isPidName(const char* name)
{
    if (!*name)
        return false;
    for (const char* c = name; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
    }
    return true;
}

// Parses one decimal field (optionally negative) at `cursor`, then skips one space.
bool takeNumber(const char*& cursor, const char* end, long long& value)
{
    bool negative = false;
    if (cursor < end && *cursor == '-') {
        negative = true;
        ++cursor;
    }
    const char* start = cursor;
    unsigned long long magnitude = 0;
    while (cursor < end && *cursor >= '0' && *cursor <= '9') {
        if (magnitude > (~0ULL - 9) / 10)
            return false;
        magnitude = magnitude * 10 + static_cast<unsigned>(*cursor - '0');
        ++cursor;
    }
    if (cursor == start || (cursor < end && *cursor != ' ' && *cursor != '\n'))
        return false;
    if (cursor < end)
        ++cursor;
    value = negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    return true;
}

bool skipField(const char*& cursor, const char* end)
{
    const char* start = cursor;
    while (cursor < end && *cursor != ' ')
        ++cursor;
    if (cursor == start || cursor == end)
        return false;
    ++cursor;
    return true;
}

} // namespace

ProcessTree::ProcessTree(QList<ProcessInfo> processes)
    : m_processes(std::move(processes))
{
}

std::optional<ProcessInfo> ProcessTree::parseStat(const char* data, qsizetype size)
{
    // "pid (comm) state ppid pgrp session tty_nr tpgid flags minflt cminflt
    // majflt cmajflt utime stime cutime cstime priority nice num_threads
    // itrealvalue starttime ..."; comm may hold spaces and parentheses, so
    // the fields start after the last ')'.
    if (!data || size <= 0)
        return std::nullopt;
    const char* end = data + size;
    const char* cursor = data;
    long long pid = 0;
    if (!takeNumber(cursor, end, pid) || cursor >= end || *cursor != '(' || pid <= 0)
        return std::nullopt;
    const char* close = nullptr;
    for (const char* c = end - 1; c >= cursor; --c) {
        if (*c == ')') {
            close = c;
            break;
        }
    }
    if (!close || end - close < 4 || close[1] != ' ')
        return std::nullopt;
    cursor = close + 2;
    ProcessInfo info;
    info.pid = static_cast<pid_t>(pid);
    info.state = *cursor;
    cursor += 1;
    if (cursor >= end || *cursor != ' ')
        return std::nullopt;
    ++cursor;
    long long ppid = 0, pgid = 0, sid = 0, startTime = 0;
    if (!takeNumber(cursor, end, ppid) || !takeNumber(cursor, end, pgid) || !takeNumber(cursor, end, sid))
        return std::nullopt;
    // tty_nr .. itrealvalue: 15 fields we do not need, then starttime.
    for (int field = 0; field < 15; ++field) {
        if (!skipField(cursor, end))
            return std::nullopt;
    }
    if (!takeNumber(cursor, end, startTime) || startTime < 0)
        return std::nullopt;
    info.ppid = static_cast<pid_t>(ppid);
    info.pgid = static_cast<pid_t>(pgid);
    info.sid = static_cast<pid_t>(sid);
    info.startTime = static_cast<unsigned long long>(startTime);
    return info;
}

ProcessTree ProcessTree::snapshot()
{
    return snapshotOf(QStringLiteral("/proc"));
}

ProcessTree ProcessTree::snapshotOf(const QString& procDir)
{
    QList<ProcessInfo> processes;
    DIR* dir = ::opendir(procDir.toLocal8Bit().constData());
    if (!dir) {
        qCWarning(lcProcessTree) << "cannot read" << procDir << std::strerror(errno);
        return ProcessTree();
    }
    const int dirFd = ::dirfd(dir);
    processes.reserve(512);
    while (const dirent* entry = ::readdir(dir)) {
        if (!isPidName(entry->d_name))
            continue;
        if (const auto info = readStatAt(dirFd, entry->d_name))
            processes.append(*info);
    }
    ::closedir(dir);
    return ProcessTree(std::move(processes));
}

std::optional<QByteArray> ProcessTree::readProcFile(const char* path, qsizetype limit)
{
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    QByteArray content;
    char buffer[8192];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        content.append(buffer, n);
        if (content.size() > limit)
            break;
    }
    ::close(fd);
    return content;
}

std::optional<ProcessInfo> ProcessTree::read(pid_t pid)
{
    if (pid <= 0)
        return std::nullopt;
    const int dirFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return std::nullopt;
    char name[24];
    std::snprintf(name, sizeof name, "%d", static_cast<int>(pid));
    auto info = readStatAt(dirFd, name);
    ::close(dirFd);
    return info;
}

std::optional<ProcessInfo> ProcessTree::find(pid_t pid) const
{
    for (const ProcessInfo& info : m_processes) {
        if (info.pid == pid)
            return info;
    }
    return std::nullopt;
}

QList<ProcessInfo> ProcessTree::childrenOf(pid_t pid) const
{
    QList<ProcessInfo> children;
    for (const ProcessInfo& info : m_processes) {
        if (info.ppid == pid && info.pid != pid)
            children.append(info);
    }
    return children;
}

QList<ProcessInfo> ProcessTree::treeOf(pid_t rootPid, const QList<ProcessInfo>& known) const
{
    if (rootPid <= 0)
        return {}; // pgid/sid 0 would name the kernel's own threads
    QHash<pid_t, qsizetype> indexOf;
    QHash<pid_t, QList<qsizetype>> childIndexes;
    indexOf.reserve(m_processes.size());
    for (qsizetype i = 0; i < m_processes.size(); ++i) {
        indexOf.insert(m_processes[i].pid, i);
        childIndexes[m_processes[i].ppid].append(i);
    }

    QList<ProcessInfo> members;
    QSet<pid_t> seen;
    auto add = [&](qsizetype index) {
        const ProcessInfo& info = m_processes[index];
        if (seen.contains(info.pid))
            return;
        seen.insert(info.pid);
        members.append(info);
    };

    if (const auto root = indexOf.constFind(rootPid); root != indexOf.cend())
        add(*root);
    for (const ProcessInfo& earlier : known) {
        const auto it = indexOf.constFind(earlier.pid);
        if (it != indexOf.cend() && m_processes[*it].startTime == earlier.startTime)
            add(*it);
    }
    for (qsizetype i = 0; i < m_processes.size(); ++i) {
        if (m_processes[i].pgid == rootPid || m_processes[i].sid == rootPid)
            add(i);
    }
    // Breadth-first over the children of everything found so far; `seen`
    // also ends any cycle a hand-made table might contain.
    for (qsizetype next = 0; next < members.size(); ++next) {
        const auto children = childIndexes.constFind(members[next].pid);
        if (children == childIndexes.cend())
            continue;
        for (const qsizetype child : *children)
            add(child);
    }
    return members;
}

QList<ProcessInfo> ProcessTree::survivorsOf(const QList<ProcessInfo>& processes) const
{
    QHash<pid_t, const ProcessInfo*> byPid;
    byPid.reserve(m_processes.size());
    for (const ProcessInfo& info : m_processes)
        byPid.insert(info.pid, &info);
    QList<ProcessInfo> survivors;
    for (const ProcessInfo& earlier : processes) {
        const ProcessInfo* now = byPid.value(earlier.pid);
        if (now && now->startTime == earlier.startTime && !now->hasEnded())
            survivors.append(*now);
    }
    return survivors;
}

QList<ProcessInfo> ProcessTree::signalTree(pid_t rootPid, int signal, const QList<ProcessInfo>& known)
{
    if (rootPid <= 1)
        return {};
    const pid_t self = ::getpid();
    const pid_t ownGroup = ::getpgrp();
    const QList<ProcessInfo> members = snapshot().treeOf(rootPid, known);
    for (const ProcessInfo& member : members) {
        // The root is an ancestor of this process, or leads its group or
        // session: signalling that tree would end the app itself.
        if (member.pid == self) {
            qCWarning(lcProcessTree) << "not signalling the tree of" << rootPid << "because it holds this process";
            return {};
        }
    }
    bool groupAlive = false;
    for (const ProcessInfo& member : members)
        groupAlive = groupAlive || (member.pgid == rootPid && !member.hasEnded());
    if (groupAlive && rootPid != ownGroup)
        ::kill(-rootPid, signal);
    // Between the snapshot and kill() a member may end and, in theory, its pid
    // be reused; pids are handed out in increasing order up to pid_max, so
    // within these microseconds that does not happen in practice.
    QList<ProcessInfo> signalled;
    signalled.reserve(members.size());
    for (const ProcessInfo& member : members) {
        if (member.hasEnded())
            continue;
        ::kill(member.pid, signal);
        signalled.append(member);
    }
    return signalled;
}

QList<ProcessInfo> ProcessTree::alive(const QList<ProcessInfo>& processes)
{
    QList<ProcessInfo> survivors;
    if (processes.isEmpty())
        return survivors;
    const int dirFd = ::open("/proc", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return survivors;
    for (const ProcessInfo& earlier : processes) {
        char name[24];
        std::snprintf(name, sizeof name, "%d", static_cast<int>(earlier.pid));
        const auto now = readStatAt(dirFd, name);
        if (now && now->startTime == earlier.startTime && !now->hasEnded())
            survivors.append(*now);
    }
    ::close(dirFd);
    return survivors;
}

QList<ProcessInfo> ProcessTree::withEnvironment(
    const QList<ProcessInfo>& candidates, const QByteArray& name, const QByteArray& value)
{
    QList<ProcessInfo> matching;
    if (name.isEmpty() || name.contains('='))
        return matching;
    const QByteArray wanted = name + '=' + value;
    for (const ProcessInfo& candidate : candidates) {
        char path[48];
        std::snprintf(path, sizeof path, "/proc/%d/environ", static_cast<int>(candidate.pid));
        const std::optional<QByteArray> read = readProcFile(path);
        if (!read)
            continue;
        const QByteArray& environment = *read;
        // NUL-separated NAME=value entries; compare whole entries only.
        qsizetype start = 0;
        while (start < environment.size()) {
            qsizetype end = environment.indexOf('\0', start);
            if (end < 0)
                end = environment.size();
            if (end - start == wanted.size()
                && std::memcmp(environment.constData() + start, wanted.constData(), static_cast<size_t>(wanted.size()))
                    == 0) {
                matching.append(candidate);
                break;
            }
            start = end + 1;
        }
    }
    return matching;
}

} // namespace Wardlamp
