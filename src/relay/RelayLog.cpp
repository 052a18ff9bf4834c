#include "RelayLog.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <string>

namespace Wardlamp {

namespace {
std::atomic<bool> s_enabled { true };
std::mutex s_sinkMutex;
std::function<void(std::string_view)> s_sink;
} // namespace

void RelayLog::setSink(std::function<void(std::string_view)> sink)
{
    const std::lock_guard lock(s_sinkMutex);
    s_sink = std::move(sink);
}

void RelayLog::setEnabled(bool enabled)
{
    s_enabled = enabled;
}

void RelayLog::line(std::string_view text)
{
    {
        const std::lock_guard lock(s_sinkMutex);
        if (s_sink) {
            s_sink(text);
            return;
        }
    }
    if (!s_enabled)
        return;
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    std::tm utc {};
    gmtime_r(&seconds, &utc);
    char stamp[32];
    const auto length = std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ ", &utc);
    std::string out(stamp, length);
    out.append(text);
    out.push_back('\n');
    std::fwrite(out.data(), 1, out.size(), stderr);
}

} // namespace Wardlamp
