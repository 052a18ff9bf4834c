#include "Listener.h"

#include "ConnectionSlot.h"
#include "HttpSession.h"
#include "RelayLog.h"

namespace Wardlamp {

namespace net = boost::asio;
using tcp = boost::asio::ip::tcp;

namespace {
// Connections past the limit still get a readable 503 up to this many; beyond, a plain close.
constexpr std::size_t overloadMargin = 64;
constexpr auto acceptRetryDelay = std::chrono::milliseconds(50);

std::string describe(const tcp::endpoint& endpoint)
{
    const auto address = endpoint.address();
    std::string text = address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return text + ":" + std::to_string(endpoint.port());
}
} // namespace

Listener::Listener(net::io_context& io, std::shared_ptr<RelayContext> context)
    : m_io(io)
    , m_context(std::move(context))
    , m_acceptor(io)
    , m_retryTimer(io)
{
}

std::optional<std::string> Listener::open(const tcp::endpoint& endpoint)
{
    boost::system::error_code error;
    m_acceptor.open(endpoint.protocol(), error);
    if (!error)
        m_acceptor.set_option(net::socket_base::reuse_address(true), error);
    if (!error)
        m_acceptor.bind(endpoint, error);
    if (!error)
        m_acceptor.listen(net::socket_base::max_listen_connections, error);
    if (error)
        return "cannot listen on " + describe(endpoint) + ": " + error.message();
    return std::nullopt;
}

tcp::endpoint Listener::localEndpoint() const
{
    boost::system::error_code ignored;
    return m_acceptor.local_endpoint(ignored);
}

void Listener::start()
{
    acceptNext();
}

void Listener::stop()
{
    boost::system::error_code ignored;
    m_acceptor.close(ignored);
    m_retryTimer.cancel();
}

void Listener::acceptNext()
{
    m_acceptor.async_accept(m_io, [self = shared_from_this()](boost::system::error_code error, tcp::socket socket) {
        self->handleAccept(error, std::move(socket));
    });
}

void Listener::handleAccept(boost::system::error_code error, tcp::socket socket)
{
    if (!m_acceptor.is_open())
        return;
    if (error) {
        if (error == net::error::no_descriptors || error == net::error::no_buffer_space
            || error == net::error::no_memory) {
            // Out of descriptors: retrying at once would spin; give closing connections a moment.
            m_retryTimer.expires_after(acceptRetryDelay);
            m_retryTimer.async_wait([self = shared_from_this()](boost::system::error_code waitError) {
                if (!waitError)
                    self->acceptNext();
            });
            return;
        }
        acceptNext();
        return;
    }

    const std::size_t open = m_context->stats.connections;
    const std::size_t limit = m_context->options.maxConnections;
    if (open >= limit + overloadMargin) {
        boost::system::error_code ignored;
        socket.close(ignored);
        acceptNext();
        return;
    }
    boost::system::error_code ignored;
    socket.set_option(tcp::no_delay(true), ignored);
    const tcp::endpoint remote = socket.remote_endpoint(ignored);
    std::string host = remote.address().to_string();
    if (const std::size_t perHost = m_context->options.maxConnectionsPerIp; perHost > 0) {
        const auto it = m_context->connectionsPerHost.find(host);
        if (it != m_context->connectionsPerHost.end() && it->second >= perHost) {
            // One address holding many connections (trickling peers) shuts out nobody else.
            ++m_context->stats.perHostRejected;
            socket.close(ignored);
            acceptNext();
            return;
        }
    }
    const bool overloaded = open >= limit;
    ConnectionSlot slot(m_context, std::move(host));
    if (m_context->tls) {
        auto session = std::make_shared<TlsHttpSession>(
            boost::beast::ssl_stream<boost::beast::tcp_stream>(std::move(socket), *m_context->tls), std::move(slot),
            describe(remote), overloaded);
        session->start();
    } else {
        auto session = std::make_shared<PlainHttpSession>(
            boost::beast::tcp_stream(std::move(socket)), std::move(slot), describe(remote), overloaded);
        session->start();
    }
    acceptNext();
}

} // namespace Wardlamp
