#pragma once

#include "supervision/ProcessInfo.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp {

// A snapshot of the processes of the system (from /proc) and the pure
// questions asked of it when a server is stopped: which processes belong to a
// server's tree, and which of those are still there.
//
// The tree of a root pid is every process whose parent chain reaches the
// root, every member of the process group and of the session that the root
// leads (a server is started with setsid, so pid = pgid = sid), and the
// descendants of all of these, so a grandchild that called setsid itself is
// still found through its parents. Once the root has exited the orphans are
// reparented (to this process when it is a subreaper) and the chain breaks:
// pass the members found earlier as `known` and they, and what they started
// since, stay part of the tree.
//
// A value type; snapshots are taken on any thread. The static functions act
// on the live system and are thread-safe.
class ProcessTree {
public:
    ProcessTree() = default;
    explicit ProcessTree(QList<ProcessInfo> processes);

    // Reads every /proc/<pid>/stat. Processes that vanish during the scan or
    // whose entry cannot be read or parsed are left out; never fails.
    static ProcessTree snapshot();
    // The same over another directory laid out like /proc (tests).
    static ProcessTree snapshotOf(const QString& procDir);
    // One process, read directly; nothing when it does not exist (any more).
    static std::optional<ProcessInfo> read(pid_t pid);
    // The whole content of a small /proc file (at most `limit` bytes kept);
    // nothing when it cannot be opened.
    static std::optional<QByteArray> readProcFile(const char* path, qsizetype limit = 4 * 1024 * 1024);
    // Parses the text of a /proc/<pid>/stat file.
    static std::optional<ProcessInfo> parseStat(const char* data, qsizetype size);

    const QList<ProcessInfo>& processes() const { return m_processes; }
    std::optional<ProcessInfo> find(pid_t pid) const;
    QList<ProcessInfo> childrenOf(pid_t pid) const;

    // Members of the root's tree (see above), the root first when present,
    // then in breadth-first order, every process once. Members of `known`
    // count only while this snapshot shows the same process (pid and start
    // time).
    QList<ProcessInfo> treeOf(pid_t rootPid, const QList<ProcessInfo>& known = {}) const;

    // The processes of `processes` that this snapshot shows as the same
    // process and not yet ended (zombies have ended).
    QList<ProcessInfo> survivorsOf(const QList<ProcessInfo>& processes) const;

    // Sends `signal` to the root's tree of a fresh snapshot: kill(-pgid) for
    // the group the root leads, then every member that has not ended. This
    // process and its own group are never signalled; errors (gone, no
    // permission) are ignored. Returns the members signalled.
    static QList<ProcessInfo> signalTree(pid_t rootPid, int signal, const QList<ProcessInfo>& known = {});

    // The processes of the list that still exist as the same process and have
    // not ended. Reads only their own /proc entries.
    static QList<ProcessInfo> alive(const QList<ProcessInfo>& processes);

    // The candidates whose environment (as passed to their execve, from
    // /proc/<pid>/environ) holds exactly NAME=value; unreadable ones are
    // skipped. A daemonizing server (setsid, then a double fork whose middle
    // exits) leaves no parent chain and no shared group behind, but carries
    // the environment it was started with: a variable set per server finds
    // such orphans among the children this subreaper adopted.
    static QList<ProcessInfo> withEnvironment(
        const QList<ProcessInfo>& candidates, const QByteArray& name, const QByteArray& value);

private:
    QList<ProcessInfo> m_processes;
};

} // namespace Wardlamp
