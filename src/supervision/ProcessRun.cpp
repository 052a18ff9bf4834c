#include "ProcessRun.h"

#include <unistd.h>

namespace Wardlamp::Detail {

void PendingOutput::append(PendingOutput& other)
{
    if (lines.empty() && chunks.empty()) {
        lines.swap(other.lines);
        chunks.swap(other.chunks);
    } else {
        // Only the line records move: the text stays where it is.
        lines.insert(lines.end(), other.lines.begin(), other.lines.end());
        for (const std::shared_ptr<char>& chunk : other.chunks)
            hold(chunk);
    }
    bytes += other.bytes;
    if (other.finished) {
        finished = true;
        status = other.status;
        bySignal = other.bySignal;
    }
    other.clear();
}

ProcessRun::ProcessRun(const ServerConfig& serverConfig, int processId, int processFd, int stdoutFd, int stderrFd)
    : config(serverConfig)
    , pid(processId)
    , pidfd(processFd)
{
    out.fd = stdoutFd;
    err.fd = stderrFd;
}

ProcessRun::~ProcessRun()
{
    if (pidfd >= 0)
        ::close(pidfd);
    out.waiter.reset();
    err.waiter.reset();
    // Normally the output thread has closed these; a run dropped before it was
    // ever handed over still owns them.
    if (out.fd >= 0)
        ::close(out.fd);
    if (err.fd >= 0)
        ::close(err.fd);
}

} // namespace Wardlamp::Detail
