#include "RelayServer.h"

#include "Listener.h"
#include "RelayContext.h"
#include "RelayLog.h"

#include <boost/beast/websocket/rfc6455.hpp>

#include <algorithm>

namespace Wardlamp {

namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

namespace {
constexpr auto shutdownGrace = std::chrono::seconds(5);
constexpr auto shutdownPoll = std::chrono::milliseconds(10);
} // namespace

RelayServer::RelayServer(net::io_context& io, RelayOptions options)
    : m_io(io)
    , m_context(std::make_shared<RelayContext>(std::move(options), io.get_executor()))
    , m_shutdownTimer(io)
    , m_idleTimer(io)
{
}

RelayServer::~RelayServer()
{
    m_idleTimer.cancel();
    if (m_listener)
        m_listener->stop();
    // Sessions still queued in the io_context keep the context alive; the rooms and the
    // flush list must not keep them alive in turn, or neither would ever be freed.
    m_context->rooms.detachAll();
    m_context->pendingFlushes.clear();
    m_context->flushing.clear();
}

std::optional<std::string> RelayServer::start()
{
    const RelayOptions& options = m_context->options;
    if (options.useTls()) {
        try {
            net::ssl::context tls(net::ssl::context::tls_server);
            tls.set_options(net::ssl::context::default_workarounds | net::ssl::context::no_sslv2
                | net::ssl::context::no_sslv3 | net::ssl::context::no_tlsv1 | net::ssl::context::no_tlsv1_1);
            tls.use_certificate_chain_file(options.tlsCertificateFile);
            tls.use_private_key_file(options.tlsKeyFile, net::ssl::context::pem);
            m_context->tls.emplace(std::move(tls));
        } catch (const boost::system::system_error& error) {
            return "cannot load the TLS certificate or key: " + std::string(error.what());
        }
    }

    boost::system::error_code error;
    const auto address = net::ip::make_address(options.listenAddress, error);
    if (error)
        return "not an IP address: " + options.listenAddress;
    m_listener = std::make_shared<Listener>(m_io, m_context);
    if (auto failure = m_listener->open(tcp::endpoint(address, options.listenPort)))
        return failure;
    m_listener->start();
    scheduleIdleSweep();
    return std::nullopt;
}

tcp::endpoint RelayServer::localEndpoint() const
{
    return m_listener ? m_listener->localEndpoint() : tcp::endpoint();
}

std::string RelayServer::localAddressText() const
{
    const auto endpoint = localEndpoint();
    const auto address = endpoint.address();
    std::string text = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return text + ":" + std::to_string(endpoint.port());
}

void RelayServer::shutdown()
{
    if (m_context->shuttingDown)
        return;
    m_context->shuttingDown = true;
    RelayLog::line("shutdown connections=" + std::to_string(m_context->stats.connections));
    if (m_listener)
        m_listener->stop();
    m_idleTimer.cancel();
    m_context->rooms.closeAll(boost::beast::websocket::close_code::going_away, "relay shutting down");
    waitForConnectionsToClose(std::chrono::steady_clock::now() + shutdownGrace);
}

void RelayServer::waitForConnectionsToClose(std::chrono::steady_clock::time_point deadline)
{
    if (m_context->stats.connections == 0)
        return; // nothing holds the io_context any more: run() returns
    if (std::chrono::steady_clock::now() >= deadline) {
        RelayLog::line("shutdown dropping connections=" + std::to_string(m_context->stats.connections));
        m_io.stop();
        return;
    }
    m_shutdownTimer.expires_after(shutdownPoll);
    m_shutdownTimer.async_wait([this, deadline](boost::system::error_code error) {
        if (!error)
            waitForConnectionsToClose(deadline);
    });
}

// One timer for all peers: every quarter of the idle timeout, silent peers are
// pinged (after two ticks) or dropped (after four), so a peer that sends nothing,
// not even a pong, is closed between 3/4 and 1 idle timeout after its last frame.
void RelayServer::scheduleIdleSweep()
{
    const auto interval
        = std::max<std::chrono::milliseconds>(m_context->options.idleTimeout / 4, std::chrono::milliseconds(10));
    m_idleTimer.expires_after(interval);
    m_idleTimer.async_wait([this](boost::system::error_code error) {
        if (error || m_context->shuttingDown)
            return;
        ++m_context->idleSweep;
        m_context->rooms.checkIdle(m_context->idleSweep);
        scheduleIdleSweep();
    });
}

const RelayStats& RelayServer::stats() const
{
    return m_context->stats;
}

const RelayOptions& RelayServer::options() const
{
    return m_context->options;
}

} // namespace Wardlamp
