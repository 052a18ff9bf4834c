#pragma once

#include <QHash>
#include <QList>
#include <QSet>

#include <chrono>
#include <memory>
#include <mutex>

#include <sys/types.h>

class QSocketNotifier;
class QTimer;

namespace Wardlamp {

// Makes this process the child subreaper of everything it starts: a server's
// descendants whose parents exit are reparented here instead of to init, so
// a stop still finds them, and this object reaps them when they end (nobody
// else would collect their exit status, and a zombie keeps its pid).
//
// Process-wide by nature: the subreaper role and the SIGCHLD handler belong
// to the process, so at most one exists at a time. The program's object graph
// builds it once, on the main thread, after QCoreApplication exists, before
// the first child is started, and hands it to every ServerManager; libraries
// never build one. The reaping runs on the main thread: a SIGCHLD handler
// (SA_RESTART, chaining any handler installed before) writes to a self-pipe
// watched by a QSocketNotifier, which then scans /proc for zombie children of
// this process and waits for each one that is not someone else's.
//
// Whose zombies are left alone:
//   - claimed pids: whoever collects a child's exit status itself (the
//     supervisor with its pidfd) claims the pid right after fork, on any
//     thread, and releases it once the status is collected;
//   - every child in this process's own session: servers are started in
//     sessions of their own, and so is everything they start (a session can
//     be left, never joined), so a zombie child in our session is one that
//     some other part of the program forked itself (a QProcess of a file
//     dialog, a desktop portal, QDesktopServices) and will collect. An orphan
//     of such a child (its grandchild, still in our session) is left too,
//     until the program ends;
//   - an unclaimed zombie elsewhere, until it has stayed one for
//     `unclaimedGrace`: a child forked by code that never heard of claims and
//     that left our session still keeps its status for its owner, who waits
//     at once.
class Subreaper {
public:
    static constexpr std::chrono::milliseconds unclaimedGrace { 500 };

    // Takes the subreaper role and installs the handler. Null when one exists
    // already, or the kernel refused the role, or the handler could not be set
    // up (the reason is logged).
    [[nodiscard]] static std::unique_ptr<Subreaper> install();
    // Whether one is installed in this process now.
    static bool isInstalled();
    // Gives the role up and puts the SIGCHLD handler that came before back.
    ~Subreaper();
    Subreaper(const Subreaper&) = delete;
    Subreaper& operator=(const Subreaper&) = delete;

    // Thread-safe.
    void claim(pid_t pid);
    void release(pid_t pid);
    bool isClaimed(pid_t pid) const;

    // Reaps the zombie children that are nobody else's (see above) and have
    // waited out the grace; returns how many. Runs by itself on SIGCHLD (and
    // again after the grace for zombies it had to leave).
    int reapOrphans();
    // How many children this object has reaped.
    int reapedCount() const { return m_reaped; }

    // Live (not zombie) children of this process, including adopted orphans.
    static QList<pid_t> children();

    // "Nothing outlives the app": SIGTERM to the tree of every child, then,
    // for what is still there after `grace`, SIGKILL. Blocks the calling
    // thread up to `grace` (plus a moment for SIGKILL); meant for the last
    // moments of an executable. Returns the number of processes that had to
    // be killed with SIGKILL.
    static int endAllChildren(std::chrono::milliseconds grace);

private:
    Subreaper() = default;
    void scheduleRetry(std::chrono::milliseconds delay);

    mutable std::mutex m_mutex; // guards m_claimed
    QSet<pid_t> m_claimed;
    int m_readFd = -1; // of the self-pipe; the write end belongs to the handler
    QSocketNotifier* m_notifier = nullptr;
    QTimer* m_retryTimer = nullptr;
    int m_reaped = 0;
    // Main thread only: when each waiting zombie was first seen (with its
    // start time, so a reused pid starts afresh).
    QHash<pid_t, std::pair<unsigned long long, std::chrono::steady_clock::time_point>> m_zombieSince;
};

} // namespace Wardlamp
