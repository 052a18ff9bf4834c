#include "InProcessRelay.h"

#include "RelayTestSupport.h"

#include "relay/RelayLog.h"
#include "relay/RelayServer.h"

#include <boost/asio/post.hpp>

#include <gtest/gtest.h>

#include <future>

namespace Wardlamp::RelayTest {

RelayOptions InProcessRelay::testOptions()
{
    RelayOptions options;
    options.listenAddress = "127.0.0.1";
    options.listenPort = 0;
    return options;
}

InProcessRelay::InProcessRelay(RelayOptions options)
{
    if (!std::getenv("WL_RELAY_TEST_LOG"))
        RelayLog::setEnabled(false);
    m_server = std::make_unique<RelayServer>(m_io, std::move(options));
    const auto failure = m_server->start();
    if (failure)
        ADD_FAILURE() << *failure;
    m_port = m_server->localEndpoint().port();
    m_thread = std::thread([this] { m_io.run(); });
}

InProcessRelay::~InProcessRelay()
{
    shutdown();
    if (m_thread.joinable()) {
        m_io.stop();
        m_thread.join();
    }
    m_server.reset();
}

RelayStats InProcessRelay::stats()
{
    std::promise<RelayStats> promise;
    auto future = promise.get_future();
    boost::asio::post(m_io, [this, &promise] { promise.set_value(m_server->stats()); });
    if (future.wait_for(defaultWait()) != std::future_status::ready) {
        ADD_FAILURE() << "the relay thread did not answer";
        return {};
    }
    return future.get();
}

bool InProcessRelay::waitForStats(const std::function<bool(const RelayStats&)>& condition)
{
    // Polls the relay's own counters: the condition is a state of the relay, which
    // no client can observe directly.
    const auto deadline = std::chrono::steady_clock::now() + defaultWait();
    while (std::chrono::steady_clock::now() < deadline) {
        if (condition(stats()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return condition(stats());
}

bool InProcessRelay::shutdown()
{
    if (!m_thread.joinable())
        return true;
    boost::asio::post(m_io, [this] { m_server->shutdown(); });
    auto done = std::async(std::launch::async, [this] { m_thread.join(); });
    if (done.wait_for(defaultWait()) != std::future_status::ready) {
        m_io.stop();
        done.wait();
        return false;
    }
    return true;
}

} // namespace Wardlamp::RelayTest
