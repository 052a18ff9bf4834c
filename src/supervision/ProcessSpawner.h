#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QList>

namespace Wardlamp {

// Starts one child process the way the supervisor needs it, without QProcess:
// its own session (setsid), SIGKILL when this thread's process dies
// (PR_SET_PDEATHSIG), default signal dispositions and an empty signal mask,
// stdin from /dev/null, stdout and stderr into two new pipes (of the
// kernel's default size: the output thread grows a busy one), no other
// descriptor, and the environment of this process minus the names given.
//
// The child is a clone that shares this process's memory until execve(), as
// vfork() would (the calling thread waits meanwhile), so the cost of a start
// does not grow with what the supervisor holds. Everything it needs is
// prepared before; until execve() it makes only system calls. A failed
// execve() is reported through a close-on-exec pipe, so spawn() knows the
// outcome before it returns. Call on the main thread: the death signal is
// tied to the thread that starts the child.
class ProcessSpawner {
public:
    struct Child {
        int pid = -1;
        int pidfd = -1; // exit notification and safe signalling
        int stdoutFd = -1; // our ends: non-blocking, close-on-exec
        int stderrFd = -1;
    };
    // The child, or the errno of the failure (clone, pipe, execve, ...).
    using Result = Expected<Child, int>;

    // The child's environment is this process's without `removedEnvironment`
    // (names), plus `addedEnvironment` ("NAME=value" items).
    // `onForked` runs in the parent as soon as the child has its pid, before
    // the outcome of execve() is known (used to claim the pid for reaping).
    template <typename OnForked>
    static Result spawn(const QByteArray& program, const QList<QByteArray>& arguments,
        const QList<QByteArray>& removedEnvironment, const QList<QByteArray>& addedEnvironment, OnForked&& onForked)
    {
        return spawnImpl(program, arguments, removedEnvironment, addedEnvironment, &onForked,
            [](void* context, int pid) { (*static_cast<OnForked*>(context))(pid); });
    }

    // The environment of this process without the variables named.
    static QList<QByteArray> environmentWithout(const QList<QByteArray>& names);

private:
    static Result spawnImpl(const QByteArray& program, const QList<QByteArray>& arguments,
        const QList<QByteArray>& removedEnvironment, const QList<QByteArray>& addedEnvironment, void* context,
        void (*onForked)(void*, int));
};

} // namespace Wardlamp
