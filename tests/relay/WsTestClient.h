#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Wardlamp::RelayTest {

// A blocking WebSocket client for tests, on its own io_context: every operation
// waits up to the default wait and reports failure instead of hanging.
class WsTestClient {
public:
    struct Message {
        bool ok = false;
        std::string data;
        bool text = true;
        std::string error; // when !ok
    };

    WsTestClient();
    ~WsTestClient();

    // Opens the upgrade to `target` with `headers`. On a refused upgrade, httpStatus()
    // and httpBody() hold the relay's answer.
    bool connect(
        std::uint16_t port, const std::string& target, const std::vector<std::pair<std::string, std::string>>& headers);
    // The usual form: "/connect" with X-WL-Room and X-WL-Role.
    bool join(std::uint16_t port, const std::string& room, const std::string& role);

    int httpStatus() const { return m_httpStatus; }
    const std::string& httpBody() const { return m_httpBody; }

    bool sendText(std::string_view text);
    bool sendBinary(std::string_view bytes);
    // One message sent as fragments of the given sizes.
    bool sendFragmented(std::string_view text, std::size_t fragmentBytes);
    bool ping();

    Message read();
    // Reads until a message equal to `expected` arrives; false on an error first.
    // Messages skipped on the way are counted in `skipped`.
    bool readUntil(const std::string& expected, std::size_t* skipped = nullptr);
    // The close code the relay sent, once a read has failed on its close frame.
    std::optional<std::uint16_t> closeCode() const;
    bool pongSeen() const { return m_pongs > 0; }

    void close();
    // Drops the TCP connection without a closing handshake.
    void drop();

private:
    template <class Op> bool run(Op&& start);

    boost::asio::io_context m_io;
    boost::beast::websocket::stream<boost::beast::tcp_stream> m_ws;
    boost::beast::flat_buffer m_buffer;
    int m_httpStatus = 0;
    std::string m_httpBody;
    int m_pongs = 0;
    bool m_closeReceived = false;
};

// One HTTP exchange on a raw TCP connection: sends `request` as is, returns
// everything the relay sent until it closed (empty on timeout).
std::string rawExchange(std::uint16_t port, const std::string& request);
// Status code of a raw HTTP response, 0 when there is none.
int statusOf(const std::string& response);
std::string bodyOf(const std::string& response);

} // namespace Wardlamp::RelayTest
