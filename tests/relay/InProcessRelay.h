#pragma once

#include "relay/RelayOptions.h"
#include "relay/RelayStats.h"

#include <boost/asio/io_context.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

namespace Wardlamp {
class RelayServer;
}

namespace Wardlamp::RelayTest {

// A RelayServer on 127.0.0.1, port 0, running on its own thread for one test.
class InProcessRelay {
public:
    explicit InProcessRelay(RelayOptions options = testOptions());
    ~InProcessRelay();
    InProcessRelay(const InProcessRelay&) = delete;
    InProcessRelay& operator=(const InProcessRelay&) = delete;

    static RelayOptions testOptions();

    std::uint16_t port() const { return m_port; }
    // Counters read on the relay's own thread.
    RelayStats stats();
    // Waits (up to the default wait) until `condition` holds for the counters.
    bool waitForStats(const std::function<bool(const RelayStats&)>& condition);
    // shutdown() on the relay thread, then waits for its io_context to run dry.
    // True when it did so within the default wait.
    bool shutdown();

private:
    boost::asio::io_context m_io { 1 };
    std::unique_ptr<RelayServer> m_server;
    std::uint16_t m_port = 0;
    std::thread m_thread;
};

} // namespace Wardlamp::RelayTest
