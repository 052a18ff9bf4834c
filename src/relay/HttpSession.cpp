#include "HttpSession.h"

#include "PeerSession.h"
#include "RelayLog.h"
#include "RequestRouter.h"
#include "Room.h"
#include "WebResponse.h"
#include "WebSocketHandshake.h"

#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

#include <type_traits>

namespace Wardlamp {

namespace beast = boost::beast;
namespace http = boost::beast::http;

namespace {
constexpr std::size_t maxHeaderBytes = 8 * 1024;
constexpr auto lingerTimeout = std::chrono::seconds(2);
constexpr std::size_t firstReadBytes = 1024;

template <class Stream> constexpr bool isTls = !std::is_same_v<Stream, beast::tcp_stream>;

std::optional<std::string_view> header(const http::request<http::empty_body>& request, std::string_view name)
{
    const auto it = request.find(name);
    if (it == request.end())
        return std::nullopt;
    return it->value();
}
} // namespace

template <class Stream>
HttpSession<Stream>::HttpSession(Stream stream, ConnectionSlot slot, std::string address, bool overloaded)
    : m_stream(std::move(stream))
    , m_slot(std::move(slot))
    , m_address(std::move(address))
    , m_overloaded(overloaded)
{
}

template <class Stream> HttpSession<Stream>::~HttpSession() = default;

template <class Stream> void HttpSession<Stream>::start()
{
    if constexpr (isTls<Stream>) {
        // The TLS handshake comes before the request's first byte, and is bounded like the request.
        const RelayOptions& options = m_slot.context().options;
        beast::get_lowest_layer(m_stream).expires_after(std::min(options.idleTimeout, options.messageTimeout));
        m_stream.async_handshake(
            boost::asio::ssl::stream_base::server, [self = this->shared_from_this()](beast::error_code error) {
                if (error) {
                    if (error == beast::error::timeout)
                        ++self->m_slot.context().stats.slowRequestsClosed;
                    RelayLog::line("tls-failed from=" + self->m_address + " error=" + error.message());
                    return;
                }
                self->readRequest();
            });
    } else {
        readRequest();
    }
}

// Waits up to the idle timeout for the request's first byte; from then on the whole
// request must come within the message timeout (or the idle timeout, if shorter),
// however the client spaces its bytes.
template <class Stream> void HttpSession<Stream>::readRequest()
{
    m_parser.emplace();
    m_parser->header_limit(maxHeaderBytes);
    m_parser->body_limit(0);
    m_requestStarted = false;
    if (m_buffer.size() > 0) {
        readRestOfRequest(); // the next request came with the last one
        return;
    }
    beast::get_lowest_layer(m_stream).expires_after(m_slot.context().options.idleTimeout);
    m_stream.async_read_some(m_buffer.prepare(firstReadBytes),
        [self = this->shared_from_this()](beast::error_code error, std::size_t bytes) {
            self->m_buffer.commit(bytes);
            if (error)
                self->handleRequest(error);
            else
                self->readRestOfRequest();
        });
}

template <class Stream> void HttpSession<Stream>::readRestOfRequest()
{
    m_requestStarted = true;
    // A request that stops halfway is also silent: the idle timeout holds too.
    const RelayOptions& options = m_slot.context().options;
    beast::get_lowest_layer(m_stream).expires_after(std::min(options.idleTimeout, options.messageTimeout));
    http::async_read(m_stream, m_buffer, *m_parser,
        [self = this->shared_from_this()](beast::error_code error, std::size_t) { self->handleRequest(error); });
}

template <class Stream> void HttpSession<Stream>::handleRequest(beast::error_code error)
{
    if (error == beast::error::timeout && m_requestStarted) {
        ++m_slot.context().stats.slowRequestsClosed;
        RelayLog::line("request-timeout from=" + m_address);
        return;
    }
    if (error == http::error::end_of_stream || error == beast::error::timeout
        || error == boost::asio::error::connection_reset || error == boost::asio::error::eof)
        return; // nothing to answer
    if (error) {
        RelayLog::line("reject status=400 from=" + m_address + " reason=malformed-http");
        respond(http::status::bad_request, "malformed HTTP request");
        return;
    }
    if (m_overloaded) {
        RelayLog::line("reject status=503 from=" + m_address + " reason=too-many-connections");
        respond(http::status::service_unavailable, "too many connections");
        return;
    }

    const auto& request = m_parser->get();
    RequestRouter::Request facts;
    facts.method = request.method_string();
    facts.target = request.target();
    facts.roomHeader = header(request, "X-WL-Room");
    facts.roleHeader = header(request, "X-WL-Role");
    facts.isWebSocketUpgrade = beast::websocket::is_upgrade(request);
    facts.servesWeb = m_slot.context().web.servesAnything();
    const RequestRouter::Decision decision = RequestRouter::route(facts);

    switch (decision.action) {
    case RequestRouter::Action::health:
        respond(http::status::ok, "ok");
        return;
    case RequestRouter::Action::notFound:
        respond(http::status::not_found, decision.reason);
        return;
    case RequestRouter::Action::methodNotAllowed:
        respond(http::status::method_not_allowed, decision.reason);
        return;
    case RequestRouter::Action::badRequest:
        RelayLog::line("reject status=400 from=" + m_address + " reason=\"" + decision.reason + "\"");
        respond(http::status::bad_request, decision.reason);
        return;
    case RequestRouter::Action::staticFile:
        serveFile(decision.file);
        return;
    case RequestRouter::Action::connect:
        break;
    }

    const auto version = header(request, "Sec-WebSocket-Version");
    if (!version || !WebSocketHandshake::isSupportedVersion(*version)) {
        RelayLog::line("reject status=426 from=" + m_address + " reason=websocket-version");
        respond(http::status::upgrade_required, "unsupported WebSocket version: expected 13");
        return;
    }
    const auto key = header(request, "Sec-WebSocket-Key");
    const auto accept = key ? WebSocketHandshake::acceptValue(*key) : std::nullopt;
    if (!accept) {
        RelayLog::line("reject status=400 from=" + m_address + " reason=websocket-key");
        respond(http::status::bad_request, "invalid Sec-WebSocket-Key: expected 16 bytes in base64");
        return;
    }
    RelayContext& context = m_slot.context();
    if (context.shuttingDown) {
        respond(http::status::service_unavailable, "relay shutting down");
        return;
    }
    if (const auto room = context.rooms.find(decision.room); room && !room->canAdmit(decision.role)) {
        RelayLog::line("reject status=503 room=" + std::string(RelayLog::shortRoom(decision.room))
            + " from=" + m_address + " reason=room-full");
        respond(http::status::service_unavailable, "room is full");
        return;
    }
    // A client may send its first frames right behind the request, before the answer.
    const std::string early = beast::buffers_to_string(m_buffer.data());
    if constexpr (isTls<Stream>) {
        auto peer = std::make_shared<TlsPeerSession>(
            std::move(m_stream), std::move(m_slot), std::move(m_address), decision.role, decision.room);
        peer->start(WebSocketHandshake::response(*accept), early);
    } else {
        auto peer = std::make_shared<PlainPeerSession>(
            m_stream.release_socket(), std::move(m_slot), std::move(m_address), decision.role, decision.room);
        peer->start(WebSocketHandshake::response(*accept), early);
    }
}

template <class Stream> void HttpSession<Stream>::respond(http::status status, std::string body)
{
    const auto& request = m_parser->get();
    m_response = {};
    m_response.result(status);
    m_response.version(11);
    m_response.set(http::field::server, "wardlamp-relay");
    m_response.set(http::field::content_type, "text/plain; charset=utf-8");
    if (status == http::status::upgrade_required)
        m_response.set(http::field::sec_websocket_version, "13");
    m_response.keep_alive(false);
    // Error bodies are one line; the health answer is exactly "ok".
    m_response.body() = status == http::status::ok ? std::move(body) : std::move(body) + "\n";
    m_response.prepare_payload();
    if (status == http::status::ok && request.method() == http::verb::head)
        m_response.body().clear(); // Content-Length stays that of the GET answer
    http::async_write(m_stream, m_response, [self = this->shared_from_this()](beast::error_code error, std::size_t) {
        self->handleResponseWritten(error, false);
    });
}

template <class Stream> void HttpSession<Stream>::serveFile(const std::string& name)
{
    const auto& request = m_parser->get();
    const std::optional<WebFile> file = m_slot.context().web.find(name);
    if (!file) {
        respond(http::status::not_found, "not found");
        return;
    }
    WebResponse::Request facts;
    facts.head = request.method() == http::verb::head;
    facts.acceptEncoding = header(request, "Accept-Encoding").value_or(std::string_view());
    facts.ifNoneMatch = header(request, "If-None-Match").value_or(std::string_view());
    facts.host = header(request, "Host").value_or(std::string_view());
    facts.tls = isTls<Stream>;
    WebResponse answer = WebResponse::forFile(*file, facts);

    const bool keepAlive = request.keep_alive();
    m_response = {};
    m_response.result(static_cast<http::status>(answer.status));
    m_response.version(request.version());
    m_response.set(http::field::server, "wardlamp-relay");
    for (const auto& [field, value] : answer.headers)
        m_response.set(field, value);
    m_response.keep_alive(keepAlive);
    m_response.body() = std::move(answer.body);
    if (answer.status == 200)
        m_response.content_length(answer.contentLength); // a HEAD answer names the GET's length
    http::async_write(
        m_stream, m_response, [self = this->shared_from_this(), keepAlive](beast::error_code error, std::size_t) {
            self->handleResponseWritten(error, keepAlive);
        });
}

template <class Stream> void HttpSession<Stream>::handleResponseWritten(beast::error_code error, bool keepAlive)
{
    if (error)
        return;
    if (keepAlive) {
        // The page asks for its script, style and icons next, on this connection.
        readRequest();
        return;
    }
    beast::get_lowest_layer(m_stream).expires_after(lingerTimeout);
    if constexpr (isTls<Stream>) {
        m_stream.async_shutdown([self = this->shared_from_this()](beast::error_code) {
            beast::error_code ignored;
            beast::get_lowest_layer(self->m_stream)
                .socket()
                .shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
            self->drainUntilClosed();
        });
    } else {
        beast::error_code ignored;
        beast::get_lowest_layer(m_stream).socket().shutdown(boost::asio::ip::tcp::socket::shutdown_send, ignored);
        drainUntilClosed();
    }
}

// Reads what the client still sends until it closes (or the linger timeout), so
// closing never resets a connection whose answer the client has not read yet.
template <class Stream> void HttpSession<Stream>::drainUntilClosed()
{
    beast::get_lowest_layer(m_stream).async_read_some(
        boost::asio::buffer(m_drain), [self = this->shared_from_this()](beast::error_code error, std::size_t) {
            if (!error)
                self->drainUntilClosed();
        });
}

template class HttpSession<beast::tcp_stream>;
template class HttpSession<beast::ssl_stream<beast::tcp_stream>>;

} // namespace Wardlamp
