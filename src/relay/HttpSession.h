#pragma once

#include "ConnectionSlot.h"

#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/status.hpp>
#include <boost/beast/http/string_body.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <memory>
#include <optional>
#include <string>

namespace Wardlamp {

// One accepted TCP connection until it is either upgraded (handed to a PeerSession)
// or answered and closed: TLS handshake when serving wss://, one HTTP request (its
// first byte within the idle timeout, all of it within the message timeout), then /healthz, the upgrade, or a one-line
// error. Files of the web controller are answered on a connection kept alive for the page's next request. Plain and TLS
// streams are instantiated in HttpSession.cpp. io thread only.
template <class Stream> class HttpSession final : public std::enable_shared_from_this<HttpSession<Stream>> {
public:
    // `overloaded`: the relay is at its connection limit; the request gets 503 whatever it asks.
    HttpSession(Stream stream, ConnectionSlot slot, std::string address, bool overloaded);
    ~HttpSession();

    void start();

private:
    void readRequest();
    void readRestOfRequest();
    void handleRequest(boost::beast::error_code error);
    void respond(boost::beast::http::status status, std::string body);
    void serveFile(const std::string& name);
    void handleResponseWritten(boost::beast::error_code error, bool keepAlive);
    void drainUntilClosed();

    Stream m_stream;
    ConnectionSlot m_slot;
    std::string m_address;
    bool m_overloaded;
    boost::beast::flat_buffer m_buffer;
    std::optional<boost::beast::http::request_parser<boost::beast::http::empty_body>> m_parser;
    boost::beast::http::response<boost::beast::http::string_body> m_response;
    char m_drain[512];
    bool m_requestStarted = false; // a byte of the current request has come
};

using PlainHttpSession = HttpSession<boost::beast::tcp_stream>;
using TlsHttpSession = HttpSession<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

} // namespace Wardlamp
