#pragma once

#include "WebContent.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace Wardlamp {

// Everything the relay can be told on its command line, with the defaults a
// self-hosted instance starts with. A plain value: RelayCommandLine fills it,
// RelayServer reads it.
struct RelayOptions {
    std::string listenAddress = "127.0.0.1";
    std::uint16_t listenPort = 8080;
    std::string tlsCertificateFile; // both set: wss://; both empty: plain ws:// (behind a proxy)
    std::string tlsKeyFile;
    std::size_t maxFrameBytes = 1024 * 1024; // a larger message is refused with close code 1009
    std::size_t maxControllersPerRoom = 8;
    std::size_t maxConnections = 10000; // TCP connections, whatever their stage
    // TCP connections from one client address; 0: no limit (the default, since a
    // relay behind a TLS proxy sees every client at the proxy's address).
    std::size_t maxConnectionsPerIp = 0;
    std::chrono::milliseconds idleTimeout = std::chrono::seconds(60); // nothing received (not even a pong)
    // From the first byte of a message (or of the HTTP request) to its last; past it
    // the peer is closed, whatever it sent in between.
    std::chrono::milliseconds messageTimeout = std::chrono::seconds(30);
    // What the unfinished messages of all peers together may hold in memory.
    std::size_t unfinishedMessageBytes = 64 * 1024 * 1024;
    std::size_t sendQueueBytes = 4 * 1024 * 1024; // per connection; past it a controller is dropped
    WebContent::Source web = WebContent::Source::builtIn; // the web controller: compiled in, a folder, or none
    std::string webRoot; // the folder, for WebContent::Source::directory

    bool useTls() const { return !tlsCertificateFile.empty(); }

    bool operator==(const RelayOptions&) const = default;
};

} // namespace Wardlamp
