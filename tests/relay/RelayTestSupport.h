#pragma once

#include <chrono>
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

} // namespace Wardlamp::RelayTest
