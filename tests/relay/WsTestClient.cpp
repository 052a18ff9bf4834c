#include "WsTestClient.h"

#include "RelayTestSupport.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/websocket.hpp>

namespace Wardlamp::RelayTest {

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;
using tcp = boost::asio::ip::tcp;

WsTestClient::WsTestClient()
    : m_ws(m_io)
{
    m_ws.control_callback([this](websocket::frame_type kind, std::string_view) {
        if (kind == websocket::frame_type::pong)
            ++m_pongs;
    });
}

WsTestClient::~WsTestClient()
{
    drop();
}

template <class Op> bool WsTestClient::run(Op&& start)
{
    bool done = false;
    beast::error_code result;
    start([&done, &result](beast::error_code error) {
        result = error;
        done = true;
    });
    m_io.restart();
    const auto deadline = std::chrono::steady_clock::now() + defaultWait();
    while (!done && std::chrono::steady_clock::now() < deadline)
        m_io.run_one_until(deadline);
    if (!done) {
        beast::get_lowest_layer(m_ws).close();
        m_io.restart();
        m_io.run_for(std::chrono::seconds(1));
        return false;
    }
    return !result;
}

bool WsTestClient::connect(
    std::uint16_t port, const std::string& target, const std::vector<std::pair<std::string, std::string>>& headers)
{
    const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), port);
    if (!run([&](auto done) {
            beast::get_lowest_layer(m_ws).async_connect(endpoint, [done](beast::error_code error) { done(error); });
        }))
        return false;
    beast::get_lowest_layer(m_ws).socket().set_option(tcp::no_delay(true));
    m_ws.set_option(websocket::stream_base::decorator([headers](websocket::request_type& request) {
        for (const auto& [name, value] : headers)
            request.set(name, value);
    }));
    m_ws.read_message_max(64 * 1024 * 1024);
    auto response = std::make_shared<websocket::response_type>();
    const bool ok = run([&](auto done) {
        m_ws.async_handshake(*response, "127.0.0.1", target, [done](beast::error_code error) { done(error); });
    });
    m_httpStatus = static_cast<int>(response->result_int());
    m_httpBody = response->body();
    return ok;
}

bool WsTestClient::join(std::uint16_t port, const std::string& room, const std::string& role)
{
    return connect(port, "/connect", { { "X-WL-Room", room }, { "X-WL-Role", role } });
}

bool WsTestClient::sendText(std::string_view text)
{
    m_ws.text(true);
    return run([&](auto done) {
        m_ws.async_write(boost::asio::buffer(text.data(), text.size()),
            [done](beast::error_code error, std::size_t) { done(error); });
    });
}

bool WsTestClient::sendBinary(std::string_view bytes)
{
    m_ws.binary(true);
    const bool ok = run([&](auto done) {
        m_ws.async_write(boost::asio::buffer(bytes.data(), bytes.size()),
            [done](beast::error_code error, std::size_t) { done(error); });
    });
    m_ws.text(true);
    return ok;
}

bool WsTestClient::sendFragmented(std::string_view text, std::size_t fragmentBytes)
{
    m_ws.text(true);
    m_ws.auto_fragment(false);
    std::size_t offset = 0;
    while (offset < text.size()) {
        const std::size_t length = std::min(fragmentBytes, text.size() - offset);
        const bool last = offset + length == text.size();
        if (!run([&](auto done) {
                m_ws.async_write_some(last, boost::asio::buffer(text.data() + offset, length),
                    [done](beast::error_code error, std::size_t) { done(error); });
            }))
            return false;
        offset += length;
    }
    return true;
}

bool WsTestClient::ping()
{
    return run([&](auto done) { m_ws.async_ping({}, [done](beast::error_code error) { done(error); }); });
}

WsTestClient::Message WsTestClient::read()
{
    Message message;
    m_buffer.clear();
    beast::error_code readError;
    const bool ok = run([&](auto done) {
        m_ws.async_read(m_buffer, [done, &readError](beast::error_code error, std::size_t) {
            readError = error;
            done(error);
        });
    });
    if (!ok) {
        message.error = readError ? readError.message() : std::string("timed out");
        if (readError == websocket::error::closed)
            m_closeReceived = true;
        return message;
    }
    message.ok = true;
    message.text = m_ws.got_text();
    message.data = beast::buffers_to_string(m_buffer.data());
    return message;
}

bool WsTestClient::readUntil(const std::string& expected, std::size_t* skipped)
{
    for (;;) {
        const Message message = read();
        if (!message.ok)
            return false;
        if (message.data == expected)
            return true;
        if (skipped)
            ++*skipped;
    }
}

std::optional<std::uint16_t> WsTestClient::closeCode() const
{
    // Set once a close frame was read, even when tearing the TCP connection down failed after it.
    const auto code = static_cast<std::uint16_t>(m_ws.reason().code);
    if (!m_closeReceived && code == 0)
        return std::nullopt;
    return code;
}

void WsTestClient::close()
{
    if (!m_ws.is_open())
        return;
    run([&](auto done) {
        m_ws.async_close(websocket::close_code::normal, [done](beast::error_code error) { done(error); });
    });
}

void WsTestClient::drop()
{
    beast::error_code ignored;
    beast::get_lowest_layer(m_ws).socket().close(ignored);
}

std::string rawExchange(std::uint16_t port, const std::string& request)
{
    boost::asio::io_context io;
    beast::tcp_stream stream(io);
    std::string response;
    stream.expires_after(defaultWait());
    const tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), port);
    bool finished = false;
    stream.async_connect(endpoint, [&](beast::error_code error) {
        if (error) {
            finished = true;
            return;
        }
        boost::asio::async_write(stream, boost::asio::buffer(request), [&](beast::error_code, std::size_t) {});
        auto buffer = std::make_shared<std::array<char, 4096>>();
        auto readMore = std::make_shared<std::function<void()>>();
        *readMore = [&, buffer, readMore] {
            stream.async_read_some(
                boost::asio::buffer(*buffer), [&, buffer, readMore](beast::error_code readError, std::size_t n) {
                    response.append(buffer->data(), n);
                    if (readError) {
                        finished = true;
                        *readMore = nullptr;
                        return;
                    }
                    (*readMore)();
                });
        };
        (*readMore)();
    });
    io.run();
    return finished ? response : std::string();
}

int statusOf(const std::string& response)
{
    if (response.rfind("HTTP/1.1 ", 0) != 0 || response.size() < 12)
        return 0;
    return std::atoi(response.substr(9, 3).c_str());
}

std::string bodyOf(const std::string& response)
{
    const auto end = response.find("\r\n\r\n");
    return end == std::string::npos ? std::string() : response.substr(end + 4);
}

} // namespace Wardlamp::RelayTest
