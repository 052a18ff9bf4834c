#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include <pthread.h>

namespace Wardlamp::Detail {

// Waits for data on the read end of a pipe without ever polling it.
//
// Once a pipe has been polled (poll, select or epoll), the kernel wakes its
// readers' wait queue on every write, not only when the pipe turns from empty
// to non-empty. A child writing one line per write pays for that wake-up on
// each line: measured here, a quarter to a half more time per write. So the
// output thread reads a busy pipe whenever it comes round, and leaves the
// waiting on a quiet one to a PipeWaiter: a small thread blocked in a one-byte
// read(). The byte it gets (or the end of the pipe) is kept for take(), and
// `ring` tells the output thread; the pipe is not read again until the next
// arm().
//
// The waiter reads only between arm() and the ring, and the output thread
// reads only outside that span, so the two never read at once and no byte
// changes places. stop() ends a read in progress with a signal (SIGURG); a
// read interrupted that way has consumed nothing, and a byte already read
// stays for take().
//
// The signal's handler is process-wide state, so the library never installs
// it by itself: the program calls installWakeSignal() once (the object graph
// does). Until then start() gives no waiter and the output thread watches
// pipes with epoll, which is correct but costs a wake-up per write. The
// handler has no SA_RESTART, so a SIGURG sent to the whole process (only ever
// sent on request: kill, or F_SETOWN on a socket) may end a blocking call
// elsewhere with EINTR, which Qt and this code retry.
//
// arm(), take() and stop() are for one thread (the output thread); `ring`
// runs on the waiter's thread.
class PipeWaiter {
public:
    struct Result {
        enum Kind { nothing, byte, end };
        Kind kind = nothing;
        char value = 0;
    };

    // Installs the handler of SIGURG unless the application has one of its
    // own; true when waiters can be used. Any thread; idempotent.
    static bool installWakeSignal();
    static bool wakeSignalInstalled();

    // The waiter's thread, or null when the wake signal is not installed or
    // no thread could be started (the caller then watches the pipe some other
    // way).
    static std::unique_ptr<PipeWaiter> start(int fd, std::function<void()> ring);
    ~PipeWaiter(); // stop()

    PipeWaiter(const PipeWaiter&) = delete;
    PipeWaiter& operator=(const PipeWaiter&) = delete;

    // Starts one blocking read of a byte. The descriptor must be in blocking
    // mode while armed.
    void arm();
    bool armed() const;
    // What the last wait brought, once (nothing while still waiting).
    Result take();
    // Whether take() would return a byte now.
    bool hasByte() const;
    // Ends the thread; afterwards take() still returns a byte read before.
    void stop();

private:
    PipeWaiter(int fd, std::function<void()> ring);
    static void* entry(void* self);
    void run();

    const int m_fd;
    const std::function<void()> m_ring;
    pthread_t m_thread {};
    bool m_started = false;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_armed = false;
    std::atomic<bool> m_quit = false; // also read outside the mutex, before each read()
    bool m_exited = false;
    Result m_result;
};

} // namespace Wardlamp::Detail
