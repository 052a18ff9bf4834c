#include "SignalWatcher.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace Wardlamp {

namespace {

int s_pipe[2] = { -1, -1 };

extern "C" void writeSignalNumber(int signalNumber)
{
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // A full pipe drops the byte: the signals already queued get the job done.
    [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
    errno = savedErrno;
}

} // namespace

Expected<std::unique_ptr<SignalWatcher>, std::error_code> SignalWatcher::watch(
    std::initializer_list<int> signalNumbers, Delivery delivery)
{
    Q_ASSERT(s_pipe[0] < 0);
    if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        const std::error_code error(errno, std::system_category());
        s_pipe[0] = s_pipe[1] = -1;
        return error;
    }
    std::unique_ptr<SignalWatcher> watcher(new SignalWatcher);

    struct sigaction action = {};
    action.sa_handler = writeSignalNumber;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART | (delivery == Delivery::once ? SA_RESETHAND : 0);
    for (const int signalNumber : signalNumbers)
        ::sigaction(signalNumber, &action, nullptr);
    return watcher;
}

SignalWatcher::SignalWatcher()
    : m_notifier(new QSocketNotifier(s_pipe[0], QSocketNotifier::Read, this))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &SignalWatcher::handleReadable);
}

SignalWatcher::~SignalWatcher()
{
    // The handlers stay installed but write to a closed pipe, which is harmless;
    // the process is ending when this object goes.
    delete m_notifier;
    const int readEnd = s_pipe[0];
    const int writeEnd = s_pipe[1];
    s_pipe[0] = s_pipe[1] = -1; // before closing, so a late signal cannot hit a reused descriptor
    ::close(readEnd);
    ::close(writeEnd);
}

void SignalWatcher::handleReadable()
{
    unsigned char bytes[64];
    for (;;) {
        const ssize_t n = ::read(s_pipe[0], bytes, sizeof bytes);
        if (n > 0) {
            for (ssize_t i = 0; i < n; ++i)
                Q_EMIT received(bytes[i]);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        return;
    }
}

} // namespace Wardlamp
