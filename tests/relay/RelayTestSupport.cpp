#include "RelayTestSupport.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include <unistd.h>

namespace Wardlamp::RelayTest {

std::chrono::milliseconds waitFor(std::chrono::milliseconds base)
{
    double factor = 1.0;
    if (const char* text = std::getenv("WL_TIMEOUT_FACTOR")) {
        const double parsed = std::atof(text);
        if (parsed > 0)
            factor = parsed;
    }
    return std::chrono::milliseconds(static_cast<long long>(static_cast<double>(base.count()) * factor));
}

std::string roomId(unsigned seed)
{
    char text[33];
    std::snprintf(text, sizeof text, "%08x%08x%08x%08x", seed, seed * 2654435761u, seed ^ 0xa5a5a5a5u, 0x1234abcdu);
    return std::string(text, 32);
}

std::string payloadOfSize(std::size_t bytes, unsigned seed)
{
    static constexpr std::string_view alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out(bytes, 'A');
    unsigned state = seed * 747796405u + 2891336453u;
    for (auto& c : out) {
        state = state * 1664525u + 1013904223u;
        c = alphabet[(state >> 24) % alphabet.size()];
    }
    return out;
}

std::string msgEnvelope(std::string_view role, std::string_view payload, bool cache)
{
    std::string out = R"({"v":1,"kind":"msg","role":")";
    out.append(role).append(R"(","payload":")").append(payload).append("\"");
    if (cache)
        out.append(R"(,"cache":true)");
    out.append("}");
    return out;
}

TemporaryCertificate::TemporaryCertificate(const std::string& name)
    : m_dir(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid())))
{
    std::filesystem::create_directories(m_dir);
    const std::string command = "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
                                "-subj /CN=localhost -addext subjectAltName=IP:127.0.0.1 -keyout "
        + keyFile() + " -out " + certificateFile() + " 2>/dev/null";
    m_ok = std::system(command.c_str()) == 0;
}

TemporaryCertificate::~TemporaryCertificate()
{
    std::error_code ignored;
    std::filesystem::remove_all(m_dir, ignored);
}

} // namespace Wardlamp::RelayTest
