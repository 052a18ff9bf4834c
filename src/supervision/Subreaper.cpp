#include "supervision/Subreaper.h"

#include "supervision/ProcessTree.h"

#include <QCoreApplication>
#include <QHash>
#include <QLoggingCategory>
#include <QSet>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <mutex>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace Wardlamp {

namespace {

Q_LOGGING_CATEGORY(lcSubreaper, "wardlamp.supervision")

using Clock = std::chrono::steady_clock;

// Touched by the signal handler: plain values, set before the handler is installed.
std::atomic<int> s_wakeFd { -1 };
struct sigaction s_previousAction { };

// The one instance there may be (the role and the handler are the process's).
std::atomic<Subreaper*> s_instance { nullptr };

void handleSigchld(int signal, siginfo_t* info, void* context)
{
    const int savedErrno = errno;
    const int fd = s_wakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 0;
        // A full pipe already holds a wake-up; nothing is lost.
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
    if (s_previousAction.sa_flags & SA_SIGINFO) {
        if (s_previousAction.sa_sigaction)
            s_previousAction.sa_sigaction(signal, info, context);
    } else if (s_previousAction.sa_handler != SIG_DFL && s_previousAction.sa_handler != SIG_IGN) {
        s_previousAction.sa_handler(signal);
    }
}

// Children of this process from /proc/self/task/*/children (an orphan is
// adopted by whichever thread of ours was chosen, so every task is read).
// Falls back to a full scan on kernels without that file.
std::optional<QList<pid_t>> childPidsFromTasks()
{
    DIR* tasks = ::opendir("/proc/self/task");
    if (!tasks)
        return std::nullopt;
    QList<pid_t> pids;
    bool anyRead = false;
    while (const dirent* entry = ::readdir(tasks)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9')
            continue;
        char path[sizeof(dirent::d_name) + 32];
        std::snprintf(path, sizeof path, "/proc/self/task/%s/children", entry->d_name);
        const std::optional<QByteArray> text = ProcessTree::readProcFile(path);
        if (!text)
            continue;
        anyRead = true;
        for (const QByteArray& field : text->split(' ')) {
            bool ok = false;
            const int pid = field.trimmed().toInt(&ok);
            if (ok && pid > 0 && !pids.contains(pid))
                pids.append(pid);
        }
    }
    ::closedir(tasks);
    if (!anyRead)
        return std::nullopt;
    return pids;
}

// Children of this process, zombies included.
QList<ProcessInfo> childProcesses()
{
    const pid_t self = ::getpid();
    QList<ProcessInfo> children;
    if (const auto pids = childPidsFromTasks()) {
        for (const pid_t pid : *pids) {
            const auto info = ProcessTree::read(pid);
            if (info && info->ppid == self)
                children.append(*info);
        }
        return children;
    }
    return ProcessTree::snapshot().childrenOf(self);
}

} // namespace

std::unique_ptr<Subreaper> Subreaper::install()
{
    auto* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() != app->thread()) {
        qCWarning(lcSubreaper) << "Subreaper::install() needs a QCoreApplication and its thread";
        return nullptr;
    }
    if (s_instance.load()) {
        qCWarning(lcSubreaper) << "a subreaper is installed already; there is one per process";
        return nullptr;
    }
    if (::prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0) != 0) {
        qCWarning(lcSubreaper) << "cannot become a child subreaper:" << std::strerror(errno);
        return nullptr;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCWarning(lcSubreaper) << "cannot create the SIGCHLD pipe:" << std::strerror(errno);
        ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
        return nullptr;
    }
    std::unique_ptr<Subreaper> subreaper(new Subreaper);
    Subreaper* self = subreaper.get();
    self->m_readFd = fds[0];
    s_wakeFd.store(fds[1]);

    self->m_notifier = new QSocketNotifier(fds[0], QSocketNotifier::Read);
    QObject::connect(self->m_notifier, &QSocketNotifier::activated, self->m_notifier, [self] {
        char buffer[256];
        while (::read(self->m_readFd, buffer, sizeof buffer) > 0) { }
        self->reapOrphans();
    });
    self->m_retryTimer = new QTimer;
    self->m_retryTimer->setSingleShot(true);
    QObject::connect(self->m_retryTimer, &QTimer::timeout, self->m_retryTimer, [self] { self->reapOrphans(); });

    struct sigaction action { };
    action.sa_sigaction = handleSigchld;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_SIGINFO | SA_RESTART;
    struct sigaction previous { };
    if (::sigaction(SIGCHLD, nullptr, &previous) == 0) {
        s_previousAction = previous;
        action.sa_flags |= previous.sa_flags & SA_NOCLDSTOP;
    }
    if (::sigaction(SIGCHLD, &action, nullptr) != 0) {
        qCWarning(lcSubreaper) << "cannot install the SIGCHLD handler:" << std::strerror(errno);
        return nullptr; // the destructor gives the role and the pipe back
    }
    s_instance.store(self);
    // Orphans may have been adopted and ended before the handler existed.
    self->m_retryTimer->start(0);
    return subreaper;
}

Subreaper::~Subreaper()
{
    struct sigaction current { };
    if (::sigaction(SIGCHLD, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO)
        && current.sa_sigaction == handleSigchld)
        ::sigaction(SIGCHLD, &s_previousAction, nullptr);
    // A handler installed after ours may still chain to it: it then finds no pipe.
    const int writeFd = s_wakeFd.exchange(-1);
    delete m_notifier;
    delete m_retryTimer;
    if (writeFd >= 0)
        ::close(writeFd);
    if (m_readFd >= 0)
        ::close(m_readFd);
    ::prctl(PR_SET_CHILD_SUBREAPER, 0, 0, 0, 0);
    Subreaper* self = this;
    s_instance.compare_exchange_strong(self, nullptr);
}

bool Subreaper::isInstalled()
{
    return s_instance.load() != nullptr;
}

void Subreaper::claim(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    m_claimed.insert(pid);
}

void Subreaper::release(pid_t pid)
{
    std::lock_guard lock(m_mutex);
    m_claimed.remove(pid);
}

bool Subreaper::isClaimed(pid_t pid) const
{
    std::lock_guard lock(m_mutex);
    return m_claimed.contains(pid);
}

void Subreaper::scheduleRetry(std::chrono::milliseconds delay)
{
    if (!m_retryTimer->isActive() || m_retryTimer->remainingTimeAsDuration() > delay)
        m_retryTimer->start(delay);
}

QList<pid_t> Subreaper::children()
{
    QList<pid_t> pids;
    for (const ProcessInfo& child : childProcesses()) {
        if (!child.hasEnded())
            pids.append(child.pid);
    }
    return pids;
}

int Subreaper::reapOrphans()
{
    const auto now = Clock::now();
    const pid_t ownSession = ::getsid(0);
    QHash<pid_t, std::pair<unsigned long long, Clock::time_point>> stillWaiting;
    int reaped = 0;
    bool waiting = false;
    for (const ProcessInfo& child : childProcesses()) {
        if (!child.hasEnded() || isClaimed(child.pid))
            continue;
        // Forked by some other part of this program (no server is in our
        // session, nor anything a server started): its owner collects it.
        if (child.sid == ownSession)
            continue;
        auto since = m_zombieSince.value(child.pid, { child.startTime, now });
        if (since.first != child.startTime)
            since = { child.startTime, now };
        if (now - since.second < unclaimedGrace) {
            stillWaiting.insert(child.pid, since);
            waiting = true;
            continue;
        }
        int status = 0;
        // Only this pid, never -1: other children belong to their owners.
        const pid_t result = ::waitpid(child.pid, &status, WNOHANG);
        if (result == child.pid) {
            ++reaped;
            qCDebug(lcSubreaper) << "reaped orphan" << child.pid << "status" << status;
        }
    }
    m_zombieSince = stillWaiting;
    if (waiting)
        scheduleRetry(unclaimedGrace);
    m_reaped += reaped;
    return reaped;
}

int Subreaper::endAllChildren(std::chrono::milliseconds grace)
{
    QList<pid_t> roots = children();
    QList<ProcessInfo> signalled;
    for (const pid_t root : roots)
        signalled += ProcessTree::signalTree(root, SIGTERM);

    const auto deadline = Clock::now() + grace;
    QList<ProcessInfo> survivors = ProcessTree::alive(signalled);
    while (!survivors.isEmpty() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        survivors = ProcessTree::alive(survivors);
    }
    // Children adopted during the grace (their parents ended) are roots too.
    for (const pid_t pid : children()) {
        if (!roots.contains(pid))
            roots.append(pid);
    }
    QSet<pid_t> killed;
    for (const ProcessInfo& survivor : std::as_const(survivors)) {
        ::kill(survivor.pid, SIGKILL);
        killed.insert(survivor.pid);
    }
    for (const pid_t root : std::as_const(roots)) {
        for (const ProcessInfo& member : ProcessTree::signalTree(root, SIGKILL, survivors))
            killed.insert(member.pid);
    }
    if (!killed.isEmpty())
        qCWarning(lcSubreaper) << "killed" << killed.size() << "processes that outlived SIGTERM";
    return static_cast<int>(killed.size());
}

} // namespace Wardlamp
