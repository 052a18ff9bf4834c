#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>

#include <memory>
#include <optional>
#include <string>

namespace Wardlamp {

struct RelayContext;

// Accepts TCP connections and hands each to an HttpSession (plain or TLS), or, past
// the connection limit, to one that answers 503, or past a small margin over it,
// closes it at once. Survives running out of file descriptors by pausing briefly.
// Owned by RelayServer; io thread only.
class Listener : public std::enable_shared_from_this<Listener> {
public:
    Listener(boost::asio::io_context& io, std::shared_ptr<RelayContext> context);

    // Binds and listens; the reason on failure.
    std::optional<std::string> open(const boost::asio::ip::tcp::endpoint& endpoint);
    boost::asio::ip::tcp::endpoint localEndpoint() const;
    void start();
    void stop();

private:
    void acceptNext();
    void handleAccept(boost::system::error_code error, boost::asio::ip::tcp::socket socket);

    boost::asio::io_context& m_io;
    std::shared_ptr<RelayContext> m_context;
    boost::asio::ip::tcp::acceptor m_acceptor;
    boost::asio::steady_timer m_retryTimer;
};

} // namespace Wardlamp
