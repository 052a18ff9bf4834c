#pragma once

#include "RelayOptions.h"
#include "RelayStats.h"

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <optional>
#include <string>

namespace Wardlamp {

class Listener;
struct RelayContext;

// The relay: listens, admits connections into rooms, and shuts down cleanly.
// Runs on the io_context it is given (single-threaded: every session, room and
// counter is touched only from the thread running it). Construct, start(), run
// the io_context; shutdown() from that thread (a signal handler or a post) makes
// run() return once every connection is closed.
class RelayServer {
public:
    RelayServer(boost::asio::io_context& io, RelayOptions options);
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Loads the TLS files if any and starts listening; the reason on failure.
    std::optional<std::string> start();
    // The bound address, with the real port when port 0 was asked for.
    boost::asio::ip::tcp::endpoint localEndpoint() const;
    // "ADDRESS:PORT" of localEndpoint(), IPv6 in brackets.
    std::string localAddressText() const;

    // Stops accepting, closes every peer with 1001 (going away), and lets the
    // io_context run dry; whatever is still open after a grace period is dropped.
    void shutdown();

    const RelayStats& stats() const;
    const RelayOptions& options() const;

private:
    void waitForConnectionsToClose(std::chrono::steady_clock::time_point deadline);
    void scheduleIdleSweep();

    boost::asio::io_context& m_io;
    std::shared_ptr<RelayContext> m_context;
    std::shared_ptr<Listener> m_listener;
    boost::asio::steady_timer m_shutdownTimer;
    boost::asio::steady_timer m_idleTimer;
};

} // namespace Wardlamp
