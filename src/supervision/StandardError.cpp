#include "StandardError.h"

#include <atomic>
#include <cerrno>
#include <chrono>

#include <poll.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

// How long a full, non-blocking standard error is waited for, per attempt.
constexpr std::chrono::milliseconds writableWait { 2000 };

std::atomic<StandardErrorSink> s_sink { nullptr };

} // namespace

void setStandardErrorSink(StandardErrorSink sink)
{
    s_sink.store(sink);
}

void writeToStandardError(QByteArrayView text)
{
    if (const StandardErrorSink sink = s_sink.load()) {
        sink(text);
        return;
    }
    const char* data = text.data();
    qsizetype left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(STDERR_FILENO, data, static_cast<size_t>(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            // A non-blocking standard error (set so by whoever shares it) that
            // is full: wait until it takes more, rather than drop an alert.
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd fd { STDERR_FILENO, POLLOUT, 0 };
                if (::poll(&fd, 1, int(writableWait.count())) > 0)
                    continue;
            }
            return; // standard error is gone or stuck; there is nowhere else to say it
        }
        data += written;
        left -= written;
    }
}

} // namespace Wardlamp
