#pragma once

#include <chrono>
#include <filesystem>
#include <string>

namespace Wardlamp::RelayTest {

// A generous wait, scaled by WL_TIMEOUT_FACTOR (default 1) for loaded machines.
std::chrono::milliseconds waitFor(std::chrono::milliseconds base);
inline std::chrono::milliseconds defaultWait()
{
    return waitFor(std::chrono::seconds(10));
}

// A valid room identifier derived from `seed` (32 lower-case hexadecimal characters).
std::string roomId(unsigned seed);

// A "msg" envelope with a base64-looking payload of about `payloadBytes`.
std::string msgEnvelope(std::string_view role, std::string_view payload, bool cache = false);
std::string payloadOfSize(std::size_t bytes, unsigned seed = 0);

// A self-signed certificate for 127.0.0.1 and "localhost" (made by the openssl
// command) in a directory of its own, removed again with this object.
class TemporaryCertificate {
public:
    explicit TemporaryCertificate(const std::string& name);
    ~TemporaryCertificate();
    TemporaryCertificate(const TemporaryCertificate&) = delete;
    TemporaryCertificate& operator=(const TemporaryCertificate&) = delete;

    bool ok() const { return m_ok; }
    std::string certificateFile() const { return (m_dir / "cert.pem").string(); }
    std::string keyFile() const { return (m_dir / "key.pem").string(); }

private:
    std::filesystem::path m_dir;
    bool m_ok = false;
};

} // namespace Wardlamp::RelayTest
