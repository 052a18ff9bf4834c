#pragma once

#include <QList>

#include <chrono>
#include <sys/types.h>

namespace Wardlamp {

// Makes this process the child subreaper of everything it starts: a server's
// descendants whose parents exit are reparented here instead of to init, so
// a stop still finds them, and this class reaps them when they end (nobody
// else would collect their exit status, and a zombie keeps its pid).
//
// Process-wide by nature. install() is called once by an executable, on the
// main thread, after QCoreApplication exists; libraries never call it. The
// reaping runs on the main thread: a SIGCHLD handler (SA_RESTART, chaining
// any handler installed before) writes to a self-pipe watched by a
// QSocketNotifier, which then scans /proc for zombie children of this process
// and waits for each one that is not claimed.
//
// Whoever collects a child's exit status itself (the supervisor with its
// pidfd, QProcess) claims the pid right after fork, on any thread, and
// releases it once the status is collected. An unclaimed zombie is reaped
// only when it has stayed a zombie for at least `unclaimedGrace`, so a child
// forked by a part of the app that never heard of claims (a QProcess
// somewhere) keeps its status for its owner, who waits at once.
class Subreaper {
public:
    static constexpr std::chrono::milliseconds unclaimedGrace { 500 };

    // Returns false when the kernel refused the subreaper role or the
    // handler could not be set up (the reason is logged). Idempotent.
    static bool install();
    static bool isInstalled();

    static void claim(pid_t pid);
    static void release(pid_t pid);
    static bool isClaimed(pid_t pid);

    // Live (not zombie) children of this process, including adopted orphans.
    static QList<pid_t> children();

    // Reaps the zombie children that nobody claimed and that have waited out
    // the grace; returns how many. Runs by itself on SIGCHLD (and again after
    // the grace for zombies it had to leave).
    static int reapOrphans();
    // How many children this class has reaped since start.
    static int reapedCount();

    // "Nothing outlives the app": SIGTERM to the tree of every child, then,
    // for what is still there after `grace`, SIGKILL; finally reaps what it
    // can. Blocks the calling thread up to `grace` (plus a moment for
    // SIGKILL); meant for the last moments of an executable. Returns the
    // number of processes that had to be killed with SIGKILL.
    static int endAllChildren(std::chrono::milliseconds grace);
};

} // namespace Wardlamp
