#include "ProcessSpawner.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <linux/close_range.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace Wardlamp {

namespace {

class Fd {
public:
    Fd() = default;
    explicit Fd(int fd)
        : m_fd(fd)
    {
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    ~Fd() { reset(); }
    int get() const { return m_fd; }
    int release()
    {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = fd;
    }

private:
    int m_fd = -1;
};

// Keeps our descriptors off 0, 1 and 2, so the child's dup2() calls onto those
// numbers can never overwrite one of its sources (a daemon may run with them closed).
int aboveStdio(int fd)
{
    if (fd < 0 || fd > 2)
        return fd;
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
    ::close(fd);
    return moved;
}

bool makePipe(Fd& readEnd, Fd& writeEnd)
{
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0)
        return false;
    readEnd.reset(aboveStdio(fds[0]));
    writeEnd.reset(aboveStdio(fds[1]));
    return readEnd.get() >= 0 && writeEnd.get() >= 0;
}

// Runs in the clone child too (see childMain): not instrumented, inlined.
[[noreturn]] __attribute__((no_sanitize_address, always_inline)) inline void childFail(int errorFd)
{
    const int error = errno;
    ssize_t ignored = ::write(errorFd, &error, sizeof error);
    (void)ignored;
    ::_exit(127);
}

// What the child needs, all of it built before the clone.
struct ChildSetup {
    char* const* argv = nullptr;
    char* const* envp = nullptr;
    int devNull = -1;
    int outWrite = -1;
    int errWrite = -1;
    int statusWrite = -1;
    pid_t parent = 0;
};

// The child, from the clone to execve(). It runs in the parent's memory, on a
// stack of its own, while the thread that cloned it waits (CLONE_VFORK): it
// makes system calls only, reads `setup` and writes nothing of the parent's
// (errno aside, which is the waiting thread's and read by no one meanwhile).
__attribute__((no_sanitize_address)) int childMain(void* argument)
{
    const ChildSetup& setup = *static_cast<const ChildSetup*>(argument);
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) {
        if (sig != SIGKILL && sig != SIGSTOP)
            ::sigaction(sig, &dfl, nullptr);
    }
    sigset_t none;
    ::sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    if (::setsid() < 0)
        childFail(setup.statusWrite);
    if (::prctl(PR_SET_PDEATHSIG, SIGKILL) != 0)
        childFail(setup.statusWrite);
    // The parent may have died before the death signal was armed.
    if (::getppid() != setup.parent) {
        errno = ESRCH;
        childFail(setup.statusWrite);
    }
    if (::dup2(setup.devNull, STDIN_FILENO) < 0 || ::dup2(setup.outWrite, STDOUT_FILENO) < 0
        || ::dup2(setup.errWrite, STDERR_FILENO) < 0)
        childFail(setup.statusWrite);
    // Nothing else crosses execve(); the status pipe is close-on-exec already.
    if (::syscall(SYS_close_range, 3U, ~0U, CLOSE_RANGE_CLOEXEC) != 0) {
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != setup.statusWrite)
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    ::execve(setup.argv[0], setup.argv, setup.envp);
    childFail(setup.statusWrite);
}

// The child's stack: it needs little (no allocation, a few calls deep).
constexpr size_t childStackSize = 64 * 1024;

} // namespace

QList<QByteArray> ProcessSpawner::environmentWithout(const QList<QByteArray>& names)
{
    QList<QByteArray> result;
    for (char** entry = environ; entry && *entry; ++entry) {
        const QByteArray item(*entry);
        const qsizetype equals = item.indexOf('=');
        const QByteArray name = equals < 0 ? item : item.left(equals);
        if (!names.contains(name))
            result.append(item);
    }
    return result;
}

ProcessSpawner::Result ProcessSpawner::spawnImpl(const QByteArray& program, const QList<QByteArray>& arguments,
    const QList<QByteArray>& removedEnvironment, const QList<QByteArray>& addedEnvironment, void* context,
    void (*onForked)(void*, int))
{
    // Everything the child touches is built here, before the clone.
    QList<QByteArray> environment = environmentWithout(removedEnvironment);
    environment.append(addedEnvironment);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.constData()));
    for (const QByteArray& argument : arguments)
        argv.push_back(const_cast<char*>(argument.constData()));
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (const QByteArray& item : environment)
        envp.push_back(const_cast<char*>(item.constData()));
    envp.push_back(nullptr);

    Fd devNull(aboveStdio(::open("/dev/null", O_RDONLY | O_CLOEXEC)));
    if (devNull.get() < 0)
        return errno;
    Fd outRead, outWrite, errRead, errWrite, statusRead, statusWrite;
    if (!makePipe(outRead, outWrite) || !makePipe(errRead, errWrite) || !makePipe(statusRead, statusWrite))
        return errno;

    ChildSetup setup;
    setup.argv = argv.data();
    setup.envp = envp.data();
    setup.devNull = devNull.get();
    setup.outWrite = outWrite.get();
    setup.errWrite = errWrite.get();
    setup.statusWrite = statusWrite.get();
    setup.parent = ::getpid();
    // A clone that shares our memory until it execs, as posix_spawn does (which
    // cannot arm the death signal): fork() would copy the page tables of every
    // page we hold and leave each one to fault on our next write to it, at a
    // cost that grows with what the supervisor holds (followers' batches).
    void* stack
        = ::mmap(nullptr, childStackSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
    if (stack == MAP_FAILED)
        return errno;
    // Block every signal across the clone, so no handler of ours runs in the
    // child before it has reset the dispositions.
    sigset_t all, old;
    ::sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &old);
    const pid_t pid
        = ::clone(childMain, static_cast<char*>(stack) + childStackSize, CLONE_VM | CLONE_VFORK | SIGCHLD, &setup);
    const int forkError = errno;
    ::pthread_sigmask(SIG_SETMASK, &old, nullptr);
    // The child has exec'd or exited: its stack is free.
    ::munmap(stack, childStackSize);
    if (pid < 0)
        return forkError;
    onForked(context, pid);

    outWrite.reset();
    errWrite.reset();
    statusWrite.reset();
    int childError = 0;
    ssize_t got;
    do {
        got = ::read(statusRead.get(), &childError, sizeof childError);
    } while (got < 0 && errno == EINTR);
    if (got == ssize_t(sizeof childError)) {
        // The child never ran the program; collect it here.
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        return childError;
    }

    Child child;
    child.pid = pid;
    child.pidfd = aboveStdio(int(::syscall(SYS_pidfd_open, pid, 0)));
    if (child.pidfd < 0) {
        const int error = errno;
        ::kill(pid, SIGKILL);
        while (::waitpid(pid, nullptr, 0) < 0 && errno == EINTR) { }
        return error;
    }
    for (Fd* end : { &outRead, &errRead }) {
        ::fcntl(end->get(), F_SETFL, ::fcntl(end->get(), F_GETFL) | O_NONBLOCK);
    }
    child.stdoutFd = outRead.release();
    child.stderrFd = errRead.release();
    return child;
}

} // namespace Wardlamp
