#include "SupervisorLock.h"

#include "control/ControlPaths.h"

#include <QFile>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

constexpr auto retryInterval = 20ms;
// A holder that has just taken the lock writes who it is right after; a
// reader that finds nothing readable (or a pid that is gone, left by an
// earlier holder) looks again for this long.
constexpr auto holderWriteGrace = 300ms;

bool processExists(qint64 pid)
{
    return pid > 0 && (::kill(pid_t(pid), 0) == 0 || errno == EPERM);
}

std::optional<LockHolder> readHolderOnce(const QString& lockFile)
{
    QFile file(lockFile);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return LockHolder::decode(file.read(4096));
}

int lockNow(int fd)
{
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return 0;
        if (errno != EINTR)
            return errno;
    }
}

} // namespace

std::optional<LockHolder> SupervisorLock::currentHolder(const ControlPaths& paths)
{
    const QByteArray path = QFile::encodeName(paths.lockFile);
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return std::nullopt;
    // A shared lock that can be had means nobody holds the exclusive one.
    const bool free = ::flock(fd, LOCK_SH | LOCK_NB) == 0;
    ::close(fd);
    if (free)
        return std::nullopt;
    const auto deadline = std::chrono::steady_clock::now() + holderWriteGrace;
    for (;;) {
        std::optional<LockHolder> holder = readHolderOnce(paths.lockFile);
        if ((holder && processExists(holder->pid)) || std::chrono::steady_clock::now() >= deadline)
            return holder ? holder : std::optional<LockHolder>(LockHolder {});
        std::this_thread::sleep_for(10ms);
    }
}

Expected<SupervisorLock, SupervisorLock::Refusal> SupervisorLock::acquire(
    const ControlPaths& paths, Role role, const QString& program, std::chrono::milliseconds patience)
{
    const QByteArray path = QFile::encodeName(paths.lockFile);
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Refusal { std::nullopt,
            u"cannot open %1: %2"_s.arg(paths.lockFile, QString::fromLocal8Bit(std::strerror(errno))) };

    const auto deadline = std::chrono::steady_clock::now() + patience;
    for (;;) {
        const int error = lockNow(fd);
        if (error == 0)
            break;
        if (error != EWOULDBLOCK) {
            ::close(fd);
            return Refusal { std::nullopt,
                u"cannot lock %1: %2"_s.arg(paths.lockFile, QString::fromLocal8Bit(std::strerror(error))) };
        }
        // The holder may let go while we look: then try again at once.
        const std::optional<LockHolder> holder = currentHolder(paths);
        if (!holder)
            continue;
        if (holder->role == Role::editor && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(retryInterval);
            continue;
        }
        ::close(fd);
        return Refusal { holder, {} };
    }

    LockHolder holder;
    holder.pid = ::getpid();
    holder.program = program;
    holder.role = role;
    holder.settingsFile = paths.settingsFile;
    SupervisorLock lock(fd, std::move(holder));
    lock.writeHolder();
    return lock;
}

SupervisorLock::SupervisorLock(int fd, LockHolder holder)
    : m_fd(fd)
    , m_holder(std::move(holder))
{
}

SupervisorLock::SupervisorLock(SupervisorLock&& other) noexcept
    : m_fd(std::exchange(other.m_fd, -1))
    , m_holder(std::move(other.m_holder))
{
}

SupervisorLock& SupervisorLock::operator=(SupervisorLock&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = std::exchange(other.m_fd, -1);
        m_holder = std::move(other.m_holder);
    }
    return *this;
}

SupervisorLock::~SupervisorLock()
{
    // Closing the only descriptor of the open file releases the flock.
    if (m_fd >= 0)
        ::close(m_fd);
}

void SupervisorLock::setRole(Role role)
{
    m_holder.role = role;
    writeHolder();
}

void SupervisorLock::writeHolder()
{
    const QByteArray line = m_holder.encode();
    // Who we are is a courtesy for the refusal message; a failed write costs
    // nothing but that.
    if (::ftruncate(m_fd, 0) != 0)
        return;
    qsizetype done = 0;
    while (done < line.size()) {
        const ssize_t written = ::pwrite(m_fd, line.constData() + done, size_t(line.size() - done), off_t(done));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return;
        done += written;
    }
}

} // namespace Wardlamp
