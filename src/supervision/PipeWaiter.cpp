#include "PipeWaiter.h"

#include <QLoggingCategory>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <mutex>
#include <utility>

#include <unistd.h>

namespace Wardlamp::Detail {

namespace {

Q_LOGGING_CATEGORY(lcWaiter, "wardlamp.supervision")

// The thread holds a few frames and no buffer; this leaves room for glibc's
// static TLS.
constexpr std::size_t stackBytes = 128 * 1024;

// The signal that interrupts a waiter's read. SIGURG is only ever raised for
// out-of-band socket data, which nothing here asks for, and is ignored by
// default. Its handler is installed without SA_RESTART, so that a blocked
// read() returns EINTR; a read that has already taken its byte returns it.
constexpr int wakeSignal = SIGURG;

void onWakeSignal(int) { }

// Installs the handler unless the application has one of its own (which is
// left alone: false); called again, puts it back if the signal was since reset
// to the default or ignored.
bool installWakeHandler()
{
    struct sigaction current { };
    if (::sigaction(wakeSignal, nullptr, &current) != 0)
        return false;
    if (!(current.sa_flags & SA_SIGINFO) && current.sa_handler == &onWakeSignal)
        return true;
    if ((current.sa_flags & SA_SIGINFO) || (current.sa_handler != SIG_DFL && current.sa_handler != SIG_IGN))
        return false;
    struct sigaction action { };
    action.sa_handler = &onWakeSignal; // no SA_RESTART: a blocked read() returns EINTR
    sigemptyset(&action.sa_mask);
    return ::sigaction(wakeSignal, &action, nullptr) == 0;
}

std::atomic<bool> s_wakeSignalReady { false };

} // namespace

bool PipeWaiter::installWakeSignal()
{
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    if (!s_wakeSignalReady.load())
        s_wakeSignalReady.store(installWakeHandler());
    return s_wakeSignalReady.load();
}

bool PipeWaiter::wakeSignalInstalled()
{
    return s_wakeSignalReady.load();
}

std::unique_ptr<PipeWaiter> PipeWaiter::start(int fd, std::function<void()> ring)
{
    if (!wakeSignalInstalled())
        return nullptr;
    std::unique_ptr<PipeWaiter> waiter(new PipeWaiter(fd, std::move(ring)));
    pthread_attr_t attributes;
    if (::pthread_attr_init(&attributes) != 0)
        return nullptr;
    ::pthread_attr_setstacksize(&attributes, stackBytes);
    // The thread starts with every signal blocked; it lets the wake signal in itself.
    sigset_t all;
    sigset_t previous;
    sigfillset(&all);
    ::pthread_sigmask(SIG_SETMASK, &all, &previous);
    const bool started = ::pthread_create(&waiter->m_thread, &attributes, &PipeWaiter::entry, waiter.get()) == 0;
    ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    ::pthread_attr_destroy(&attributes);
    if (!started)
        return nullptr;
    waiter->m_started = true;
    return waiter;
}

PipeWaiter::PipeWaiter(int fd, std::function<void()> ring)
    : m_fd(fd)
    , m_ring(std::move(ring))
{
}

PipeWaiter::~PipeWaiter()
{
    stop();
}

void PipeWaiter::arm()
{
    {
        std::lock_guard lock(m_mutex);
        m_armed = true;
    }
    m_changed.notify_all();
}

bool PipeWaiter::armed() const
{
    std::lock_guard lock(m_mutex);
    return m_armed;
}

PipeWaiter::Result PipeWaiter::take()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_result, Result {});
}

bool PipeWaiter::hasByte() const
{
    std::lock_guard lock(m_mutex);
    return m_result.kind == Result::byte;
}

void PipeWaiter::stop()
{
    if (!m_started)
        return;
    std::unique_lock lock(m_mutex);
    m_quit.store(true);
    m_changed.notify_all();
    // A read in progress ends with EINTR (or with its byte, which is kept).
    // A signal that comes just before the thread enters read() is lost on it,
    // so it is sent again until the thread has gone. Should something have
    // reset the signal meanwhile, the handler is put back.
    for (int sent = 1; !m_exited; ++sent) {
        ::pthread_kill(m_thread, wakeSignal);
        m_changed.wait_for(lock, std::chrono::microseconds(500), [this] { return m_exited; });
        if (sent % 2000 == 0 && !m_exited) {
            installWakeHandler();
            qCWarning(lcWaiter) << "a pipe waiter has not ended after" << sent / 2000
                                << "s of signals; SIGURG must stay unhandled by the application";
        }
    }
    lock.unlock();
    ::pthread_join(m_thread, nullptr);
    m_started = false;
}

void* PipeWaiter::entry(void* self)
{
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, wakeSignal);
    ::pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    auto* waiter = static_cast<PipeWaiter*>(self);
    waiter->run();
    {
        std::lock_guard lock(waiter->m_mutex);
        waiter->m_exited = true;
    }
    waiter->m_changed.notify_all();
    return nullptr;
}

void PipeWaiter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_armed || m_quit.load(); });
        if (m_quit.load())
            return;
        lock.unlock();
        char value = 0;
        ssize_t n = -1;
        // m_quit is checked before every read: stop() signals until the thread
        // is gone, so a read entered after the check is interrupted too.
        while (!m_quit.load()) {
            n = ::read(m_fd, &value, 1);
            if (n >= 0 || errno != EINTR)
                break;
        }
        lock.lock();
        if (n < 0 && m_quit.load())
            return; // stopped while waiting: nothing was read
        // A descriptor that is not in blocking mode (EAGAIN) would make this
        // thread spin; it is reported as the end of the pipe instead.
        m_result = n == 1 ? Result { Result::byte, value } : Result { Result::end, 0 };
        m_armed = false;
        lock.unlock();
        m_ring();
        lock.lock();
    }
}

} // namespace Wardlamp::Detail
