#include "ProcessRun.h"

#include <unistd.h>

namespace Wardlamp::Detail {

void PendingOutput::append(PendingOutput& other)
{
    if (lines.empty() && bytes.isEmpty()) {
        bytes.swap(other.bytes);
        lines.swap(other.lines);
    } else {
        const auto base = quint32(bytes.size());
        bytes.append(other.bytes);
        lines.reserve(lines.size() + other.lines.size());
        for (RawLine line : other.lines) {
            line.offset += base;
            lines.push_back(line);
        }
    }
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
    // Normally the output thread has closed these; a run dropped before it was
    // ever handed over still owns them.
    if (out.fd >= 0)
        ::close(out.fd);
    if (err.fd >= 0)
        ::close(err.fd);
}

} // namespace Wardlamp::Detail
