// Input the relay must survive: malformed HTTP, oversize, fragmented and binary
// frames, things that are not envelopes, floods, peers that never read, too many
// connections and silent peers. Real loopback sockets against an in-process relay.

#include "InProcessRelay.h"
#include "RelayTestSupport.h"
#include "WsTestClient.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/read_until.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/buffers_to_string.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <future>
#include <malloc.h>
#include <optional>
#include <thread>
#include <unistd.h>

using namespace Wardlamp;
using namespace Wardlamp::RelayTest;
using namespace std::chrono_literals;

namespace {

const std::string controllerJoined = R"({"v":1,"kind":"peerJoin","role":"controller"})";

// An agent and a controller joined in one room, each past its greeting.
struct Pair {
    WsTestClient agent;
    WsTestClient controller;

    explicit Pair(std::uint16_t port, const std::string& room = roomId(7))
    {
        EXPECT_TRUE(agent.join(port, room, "agent"));
        EXPECT_TRUE(agent.read().ok);
        EXPECT_TRUE(controller.join(port, room, "controller"));
        EXPECT_TRUE(controller.read().ok);
        EXPECT_EQ(agent.read().data, controllerJoined);
    }
};

RelayOptions optionsWith(auto change)
{
    RelayOptions options = InProcessRelay::testOptions();
    change(options);
    return options;
}

struct MalformedRow {
    const char* name;
    std::string request;
};

class MalformedHttp : public testing::TestWithParam<MalformedRow> {
protected:
    InProcessRelay relay;
};

TEST_P(MalformedHttp, answers400AndKeepsServing)
{
    const auto response = rawExchange(relay.port(), GetParam().request);
    EXPECT_EQ(statusOf(response), 400) << response;
    EXPECT_EQ(bodyOf(response), "malformed HTTP request\n");
    EXPECT_EQ(statusOf(rawExchange(relay.port(), "GET /healthz HTTP/1.1\r\n\r\n")), 200);
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Table, MalformedHttp,
    testing::Values(MalformedRow { "garbageLine", "GARBAGE\r\n\r\n" },
        MalformedRow { "binaryJunk", std::string("\x16\x03\x01\x00\xff\x00\x01\r\n\r\n", 11) },
        MalformedRow { "headerTooLarge", "GET /connect HTTP/1.1\r\nX-Big: " + std::string(9000, 'a') + "\r\n\r\n" },
        MalformedRow { "unexpectedBody", "GET /connect HTTP/1.1\r\nContent-Length: 5\r\n\r\nhello" },
        MalformedRow { "badHeaderLine", "GET /connect HTTP/1.1\r\nno colon here\r\n\r\n" },
        MalformedRow { "badVersion", "GET /connect HTTX/1.1\r\n\r\n" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RelayFrames, oversizeMessageClosesWith1009)
{
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.maxFrameBytes = 1024; }));
    Pair whole(relay.port());
    ASSERT_TRUE(whole.controller.sendText(msgEnvelope("controller", payloadOfSize(2000))));
    const auto refused = whole.controller.read();
    EXPECT_FALSE(refused.ok);
    EXPECT_EQ(whole.controller.closeCode(), 1009) << refused.error;
    EXPECT_EQ(whole.agent.read().data, R"({"v":1,"kind":"peerLeave","role":"controller"})");

    // Small fragments adding up past the limit are the same oversize message.
    WsTestClient fragmented;
    ASSERT_TRUE(fragmented.join(relay.port(), roomId(7), "controller"));
    EXPECT_TRUE(fragmented.read().ok);
    EXPECT_EQ(whole.agent.read().data, controllerJoined);
    // Only the last fragment crosses the limit, so every write completes before the relay answers.
    const std::string justOver = msgEnvelope("controller", payloadOfSize(1024 - 40));
    ASSERT_GT(justOver.size(), 1024u);
    ASSERT_LT(justOver.size(), 1024u + 100u);
    ASSERT_TRUE(fragmented.sendFragmented(justOver, 100));
    EXPECT_FALSE(fragmented.read().ok);
    EXPECT_EQ(fragmented.closeCode(), 1009);
}

TEST(RelayFrames, fragmentedMessageIsForwardedWhole)
{
    InProcessRelay relay;
    Pair pair(relay.port());
    const std::string envelope = msgEnvelope("controller", payloadOfSize(5000));
    ASSERT_TRUE(pair.controller.sendFragmented(envelope, 7));
    const auto received = pair.agent.read();
    EXPECT_EQ(received.data, envelope);
    EXPECT_TRUE(received.text);
}

TEST(RelayFrames, binaryEnvelopeIsForwardedAsTextAndBinaryGarbageDropped)
{
    InProcessRelay relay;
    Pair pair(relay.port());
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.push_back(static_cast<char>((i * 131 + 17) & 0xff));
    ASSERT_TRUE(pair.controller.sendBinary(garbage));
    const std::string envelope = msgEnvelope("controller", "in-a-binary-frame");
    ASSERT_TRUE(pair.controller.sendBinary(envelope));
    const auto received = pair.agent.read();
    EXPECT_EQ(received.data, envelope);
    EXPECT_TRUE(received.text);
}

TEST(RelayFrames, invalidUtf8TextClosesWith1007)
{
    InProcessRelay relay;
    Pair pair(relay.port());
    ASSERT_TRUE(pair.controller.sendText(std::string("{\"v\":1,\"kind\":\"msg\",\"payload\":\"\xc3\x28\"}")));
    EXPECT_FALSE(pair.controller.read().ok);
    EXPECT_EQ(pair.controller.closeCode(), 1007);
}

class NotAnEnvelope : public testing::TestWithParam<std::string> { };

TEST_P(NotAnEnvelope, isDroppedAndTheConnectionKept)
{
    InProcessRelay relay;
    Pair pair(relay.port());
    ASSERT_TRUE(pair.controller.sendText(GetParam()));
    ASSERT_TRUE(pair.agent.sendText(GetParam()));
    const std::string marker = msgEnvelope("controller", "marker");
    ASSERT_TRUE(pair.controller.sendText(marker));
    EXPECT_EQ(pair.agent.read().data, marker);
    const std::string answer = msgEnvelope("agent", "answer");
    ASSERT_TRUE(pair.agent.sendText(answer));
    EXPECT_EQ(pair.controller.read().data, answer);
    EXPECT_GE(relay.stats().framesDropped, 2u);
}

INSTANTIATE_TEST_SUITE_P(Table, NotAnEnvelope,
    testing::Values(std::string("[1,2,3]"), std::string("\"msg\""), std::string("null"), std::string("{}"),
        std::string(R"({"v":1})"), std::string(R"({"kind":"msg"})"), std::string(R"({"v":1,"kind":7})"),
        std::string(R"({"v":1,"kind":"msg")"), std::string("not json at all"), std::string(""),
        std::string(R"({"v":1,"kind":"peerJoin","role":"controller"})"),
        std::string(R"({"v":1,"kind":"register-device","deviceToken":"t"})")));

TEST(RelayLoad, floodFromOneControllerKeepsTheRoomWorking)
{
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.sendQueueBytes = 64 * 1024; }));
    Pair pair(relay.port());
    WsTestClient other;
    ASSERT_TRUE(other.join(relay.port(), roomId(7), "controller"));
    EXPECT_TRUE(other.read().ok);
    EXPECT_EQ(pair.agent.read().data, controllerJoined);

    constexpr int floodCount = 20000;
    const std::string payload = payloadOfSize(1000);
    auto flood = std::async(std::launch::async, [&] {
        for (int i = 0; i < floodCount; ++i)
            if (!pair.controller.sendText(msgEnvelope("controller", std::to_string(i) + ":" + payload)))
                return false;
        return true;
    });
    // The agent reads as fast as it can; what it gets is in order and intact.
    int last = -1;
    bool intact = true;
    const std::string marker = msgEnvelope("controller", "after-the-flood");
    bool markerSent = false;
    for (;;) {
        if (!markerSent && flood.wait_for(0s) == std::future_status::ready) {
            ASSERT_TRUE(flood.get());
            ASSERT_TRUE(other.sendText(marker));
            markerSent = true;
        }
        const auto message = pair.agent.read();
        ASSERT_TRUE(message.ok) << message.error;
        if (message.data == marker)
            break;
        const auto start = message.data.find("\"payload\":\"") + 11;
        const int sequence = std::stoi(message.data.substr(start));
        intact = intact && sequence > last
            && message.data == msgEnvelope("controller", std::to_string(sequence) + ":" + payload);
        last = sequence;
        if (!markerSent && last == floodCount - 1) {
            ASSERT_TRUE(flood.get());
            ASSERT_TRUE(other.sendText(marker));
            markerSent = true;
        }
    }
    EXPECT_TRUE(intact);
    const auto stats = relay.stats();
    EXPECT_LE(stats.peakQueuedBytes, 64u * 1024u);
    EXPECT_EQ(stats.slowPeersDropped, 0u);
}

TEST(RelayLoad, controllerThatNeverReadsIsDroppedWithoutStallingTheRoom)
{
    constexpr std::size_t queueCap = 64 * 1024;
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.sendQueueBytes = queueCap; }));
    Pair pair(relay.port());
    WsTestClient stuck; // joins, then never reads again
    ASSERT_TRUE(stuck.join(relay.port(), roomId(7), "controller"));
    EXPECT_TRUE(stuck.read().ok);
    EXPECT_EQ(pair.agent.read().data, controllerJoined);

    // Kernel buffers on loopback hold a few MiB; the relay's queue for the stuck
    // peer fills after that. Send in batches the reading controller keeps up with.
    const std::string payload = payloadOfSize(1024);
    int sent = 0;
    bool dropped = false;
    for (int batch = 0; batch < 200 && !dropped; ++batch) {
        std::string last;
        for (int i = 0; i < 500; ++i) {
            last = msgEnvelope("agent", std::to_string(sent++) + ":" + payload);
            ASSERT_TRUE(pair.agent.sendText(last));
        }
        ASSERT_TRUE(pair.controller.readUntil(last)) << "the reading controller stalled";
        dropped = relay.stats().slowPeersDropped == 1;
    }
    EXPECT_TRUE(dropped);
    EXPECT_EQ(pair.agent.read().data, R"({"v":1,"kind":"peerLeave","role":"controller"})");
    const auto stats = relay.stats();
    EXPECT_LE(stats.peakQueuedBytes, queueCap);
    EXPECT_EQ(stats.peers, 2u);
}

// A send queue as large as the largest message (the least the command line allows)
// refused that message's frame, whose header comes on top of it: the agent's largest
// messages dropped every controller, again on each rejoin for a cached one.
TEST(RelayLimits, largestMessageFitsASendQueueOfItsSize)
{
    constexpr std::size_t limit = 4096;
    InProcessRelay relay(optionsWith([](RelayOptions& o) {
        o.maxFrameBytes = limit;
        o.sendQueueBytes = limit;
    }));
    Pair pair(relay.port());
    const std::string largest = msgEnvelope("agent", std::string(limit - msgEnvelope("agent", "").size(), 'A'));
    ASSERT_EQ(largest.size(), limit);
    ASSERT_TRUE(pair.agent.sendText(largest));
    const auto received = pair.controller.read();
    EXPECT_TRUE(received.ok) << received.error;
    EXPECT_EQ(received.data, largest);
    EXPECT_EQ(relay.stats().slowPeersDropped, 0u);
}

TEST(RelayLimits, connectionsPastTheLimitGet503)
{
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.maxConnections = 2; }));
    Pair pair(relay.port());
    WsTestClient third;
    EXPECT_FALSE(third.join(relay.port(), roomId(8), "agent"));
    EXPECT_EQ(third.httpStatus(), 503);
    EXPECT_EQ(third.httpBody(), "too many connections\n");
    ASSERT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 2; }));

    pair.controller.close();
    ASSERT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 1; }));
    WsTestClient fourth;
    EXPECT_TRUE(fourth.join(relay.port(), roomId(8), "agent"));
}

// Opens the upgrade by hand and then neither reads nor answers pings.
std::string silentUpgrade(boost::asio::ip::tcp::socket& socket, std::uint16_t port)
{
    socket.connect({ boost::asio::ip::make_address("127.0.0.1"), port });
    const std::string request = "GET /connect HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n"
                                "X-WL-Room: "
        + roomId(5) + "\r\nX-WL-Role: controller\r\n\r\n";
    boost::asio::write(socket, boost::asio::buffer(request));
    std::string response;
    boost::asio::read_until(socket, boost::asio::dynamic_buffer(response), "\r\n\r\n");
    return response;
}

TEST(RelayLimits, silentPeerIsClosedAfterIdleTimeoutWhileAnsweringPeerStays)
{
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.idleTimeout = 400ms; }));
    WsTestClient answering; // reads all the time, so it answers the relay's pings
    ASSERT_TRUE(answering.join(relay.port(), roomId(5), "controller"));
    EXPECT_TRUE(answering.read().ok);
    auto nextMessage = std::async(std::launch::async, [&] { return answering.read(); });

    boost::asio::io_context io;
    boost::asio::ip::tcp::socket silent(io);
    EXPECT_EQ(silentUpgrade(silent, relay.port()).rfind("HTTP/1.1 101", 0), 0u);
    // Read raw bytes (no pong is ever sent back) until the relay hangs up.
    auto closed = std::async(std::launch::async, [&] {
        char buffer[1024];
        boost::system::error_code error;
        while (!error)
            silent.read_some(boost::asio::buffer(buffer), error);
        return error;
    });
    ASSERT_EQ(closed.wait_for(defaultWait()), std::future_status::ready) << "the silent peer was never closed";
    EXPECT_EQ(closed.get(), boost::asio::error::eof);

    // Longer than the idle timeout has passed; the answering peer is still served.
    WsTestClient agent;
    ASSERT_TRUE(agent.join(relay.port(), roomId(5), "agent"));
    const auto message = nextMessage.get();
    EXPECT_TRUE(message.ok) << message.error;
    EXPECT_EQ(message.data, R"({"v":1,"kind":"peerJoin","role":"agent"})");
}

TEST(RelayLimits, silentHttpConnectionIsClosedAfterIdleTimeout)
{
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.idleTimeout = 300ms; }));
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket socket(io);
    socket.connect({ boost::asio::ip::make_address("127.0.0.1"), relay.port() });
    boost::asio::write(socket, boost::asio::buffer(std::string("GET /connect HTTP/1.1\r\n"))); // never finished
    auto closed = std::async(std::launch::async, [&] {
        char buffer[256];
        boost::system::error_code error;
        while (!error)
            socket.read_some(boost::asio::buffer(buffer), error);
        return error;
    });
    ASSERT_EQ(closed.wait_for(defaultWait()), std::future_status::ready);
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 0; }));
}

TEST(RelayFrames, peerVanishingMidFrameLeavesCleanly)
{
    InProcessRelay relay;
    WsTestClient agent;
    ASSERT_TRUE(agent.join(relay.port(), roomId(6), "agent"));
    EXPECT_TRUE(agent.read().ok);
    {
        boost::asio::io_context io;
        boost::asio::ip::tcp::socket raw(io);
        EXPECT_EQ(silentUpgrade(raw, relay.port()).rfind("HTTP/1.1 101", 0), 0u);
        // A masked text frame header announcing 1000 bytes, then 3 of them, then gone.
        const unsigned char partial[] = { 0x81, 0xfe, 0x03, 0xe8, 1, 2, 3, 4, 'a', 'b', 'c' };
        boost::asio::write(raw, boost::asio::buffer(partial));
    }
    // The raw peer joined another room (5); the agent's room is untouched and the relay serves on.
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.peers == 1 && stats.connections == 1; }));
    EXPECT_EQ(statusOf(rawExchange(relay.port(), "GET /healthz HTTP/1.1\r\n\r\n")), 200);
}

// A silent peer whose receive window is tiny, so whatever the relay sends it
// piles up in the relay's queue almost at once.
void silentUpgradeWithSmallWindow(boost::asio::ip::tcp::socket& socket, std::uint16_t port)
{
    socket.open(boost::asio::ip::tcp::v4());
    socket.set_option(boost::asio::socket_base::receive_buffer_size(4096));
    EXPECT_EQ(silentUpgrade(socket, port).rfind("HTTP/1.1 101", 0), 0u);
}

// The send queue limit counted wire bytes only: empty pings from a peer that never
// reads queued 2-byte pongs, each a separate allocation and queue slot many times its
// size, so a connection held dozens of times its limit in memory.
TEST(RelayLimits, pongFloodFromAPeerThatNeverReadsStaysNearTheQueueLimit)
{
    constexpr std::size_t queueCap = 256 * 1024;
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.sendQueueBytes = queueCap; }));
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket raw(io);
    silentUpgradeWithSmallWindow(raw, relay.port());

    std::string pings;
    for (int i = 0; i < 100000; ++i)
        pings.append("\x89\x80\x01\x02\x03\x04", 6);
    const std::size_t before = mallinfo2().uordblks;
    // 4 million pongs: far more than the relay's socket and this one can buffer.
    for (int batch = 0; batch < 40; ++batch)
        boost::asio::write(raw, boost::asio::buffer(pings));
    ASSERT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.peakQueuedBytes + 64 > queueCap; }));
    const std::size_t after = mallinfo2().uordblks;
    EXPECT_LT(after - std::min(after, before), 4 * queueCap);
}

// A client that stops reading and then half-closes left the relay waiting forever to
// write to it: the read side saw the end of the stream and left the room, but the
// socket stayed open and the connection counted against the limit for good.
TEST(RelayLimits, peerHalfClosingWithAWritePendingIsClosed)
{
    constexpr std::size_t queueCap = 16 * 1024;
    InProcessRelay relay(optionsWith([](RelayOptions& o) { o.sendQueueBytes = queueCap; }));
    boost::asio::io_context io;
    boost::asio::ip::tcp::socket raw(io);
    silentUpgradeWithSmallWindow(raw, relay.port());

    // Pings with the largest payload; their pongs pile up behind a receive window
    // nobody empties until the relay's queue for this peer is full.
    std::string pings;
    const unsigned char key[4] = { 1, 2, 3, 4 };
    for (int i = 0; i < 1000; ++i) {
        pings.push_back(static_cast<char>(0x89));
        pings.push_back(static_cast<char>(0x80 | 125));
        pings.append(reinterpret_cast<const char*>(key), 4);
        pings.append(125, 'p');
    }
    // About 8 MiB of pongs: more than the relay's socket and this one can buffer.
    for (int batch = 0; batch < 64; ++batch)
        boost::asio::write(raw, boost::asio::buffer(pings));
    ASSERT_GT(relay.stats().peakQueuedBytes + 256, queueCap); // within a pong of the limit

    raw.shutdown(boost::asio::socket_base::shutdown_send);
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.peers == 0 && stats.connections == 0; }))
        << "connections=" << relay.stats().connections;
}

// A client may send its first frames in the same write as its upgrade request; the
// relay used to lose whatever the HTTP reader had taken in behind the request.
TEST(RelayFrames, framesSentWithTheUpgradeRequestAreRead)
{
    InProcessRelay relay;
    WsTestClient agent;
    ASSERT_TRUE(agent.join(relay.port(), roomId(8), "agent"));
    EXPECT_TRUE(agent.read().ok);

    const std::string envelope = msgEnvelope("controller", "early");
    std::string bytes = "GET /connect?room=" + roomId(8)
        + "&role=controller HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
          "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\n\r\n";
    const unsigned char key[4] = { 9, 8, 7, 6 };
    bytes.push_back(static_cast<char>(0x81));
    bytes.push_back(static_cast<char>(0x80 | envelope.size()));
    bytes.append(reinterpret_cast<const char*>(key), 4);
    for (std::size_t i = 0; i < envelope.size(); ++i)
        bytes.push_back(static_cast<char>(envelope[i] ^ key[i % 4]));
    ASSERT_LT(envelope.size(), 126u);

    boost::asio::io_context io;
    boost::asio::ip::tcp::socket raw(io);
    raw.connect({ boost::asio::ip::make_address("127.0.0.1"), relay.port() });
    boost::asio::write(raw, boost::asio::buffer(bytes));
    EXPECT_EQ(agent.read().data, controllerJoined);
    EXPECT_EQ(agent.read().data, envelope);
}

namespace beast = boost::beast;
using WssStream = beast::websocket::stream<beast::ssl_stream<beast::tcp_stream>>;

// Connects `ws` as a controller of `room` and reads its welcome into `welcome`, then runs `then`.
void openWss(WssStream& ws, std::uint16_t port, const std::string& room, beast::flat_buffer& buffer,
    std::string& welcome, std::function<void()> then)
{
    beast::get_lowest_layer(ws).async_connect({ boost::asio::ip::make_address("127.0.0.1"), port },
        [&ws, &buffer, &welcome, room, then](beast::error_code e1) {
            ASSERT_FALSE(e1) << e1.message();
            ws.next_layer().async_handshake(
                boost::asio::ssl::stream_base::client, [&ws, &buffer, &welcome, room, then](beast::error_code e2) {
                    ASSERT_FALSE(e2) << e2.message();
                    ws.async_handshake("127.0.0.1", "/connect?room=" + room + "&role=controller",
                        [&ws, &buffer, &welcome, then](beast::error_code e3) {
                            ASSERT_FALSE(e3) << e3.message();
                            ws.async_read(buffer, [&buffer, &welcome, then](beast::error_code e4, std::size_t) {
                                ASSERT_FALSE(e4) << e4.message();
                                welcome = beast::buffers_to_string(buffer.data());
                                buffer.clear();
                                then();
                            });
                        });
                });
        });
}

// Over wss:// the relay ended its side of a closing handshake with a bare TCP
// shutdown, no TLS close_notify: every client saw "stream truncated" instead of a
// clean close, whichever side began it.
TEST(RelayTls, closingHandshakeEndsWithCloseNotify)
{
    const TemporaryCertificate certificate("wl-relay-hostile-tls");
    ASSERT_TRUE(certificate.ok());
    const std::string cert = certificate.certificateFile(), key = certificate.keyFile();
    InProcessRelay relay(optionsWith([&](RelayOptions& o) {
        o.tlsCertificateFile = cert;
        o.tlsKeyFile = key;
    }));
    const std::string welcome = R"({"v":1,"kind":"welcome","role":"controller","online":false})";
    boost::asio::ssl::context tls(boost::asio::ssl::context::tls_client);
    tls.load_verify_file(cert);
    tls.set_verify_mode(boost::asio::ssl::verify_peer);

    {
        // The client closes.
        boost::asio::io_context io;
        WssStream ws(io, tls);
        beast::flat_buffer buffer;
        std::string greeting;
        std::optional<beast::error_code> closed;
        openWss(ws, relay.port(), roomId(4), buffer, greeting, [&] {
            ws.async_close(beast::websocket::close_code::normal, [&](beast::error_code error) { closed = error; });
        });
        io.run_for(defaultWait());
        EXPECT_EQ(greeting, welcome);
        ASSERT_TRUE(closed.has_value()) << "the close never completed";
        EXPECT_FALSE(*closed) << closed->message();
        EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 0; }));
    }
    {
        // The relay closes, shutting down.
        boost::asio::io_context io;
        WssStream ws(io, tls);
        beast::flat_buffer buffer;
        std::string greeting;
        std::optional<beast::error_code> closed;
        std::future<bool> shutdown;
        openWss(ws, relay.port(), roomId(4), buffer, greeting, [&] {
            ws.async_read(buffer, [&](beast::error_code error, std::size_t) { closed = error; });
            shutdown = std::async(std::launch::async, [&] { return relay.shutdown(); });
        });
        io.run_for(defaultWait());
        EXPECT_EQ(greeting, welcome);
        ASSERT_TRUE(closed.has_value()) << "the relay's close never arrived";
        EXPECT_EQ(*closed, beast::websocket::error::closed) << closed->message();
        EXPECT_EQ(ws.reason().code, beast::websocket::close_code::going_away);
        ASSERT_TRUE(shutdown.valid());
        EXPECT_TRUE(shutdown.get());
    }
}

struct HandshakeRow {
    const char* name;
    std::string headers; // after the room and role, each line ending in CRLF
    int status;
    std::string body;
};

class RefusedHandshakes : public testing::TestWithParam<HandshakeRow> {
protected:
    InProcessRelay relay;
};

TEST_P(RefusedHandshakes, answerStatusWithOneLine)
{
    const std::string request = "GET /connect HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                                "X-WL-Room: "
        + roomId(3) + "\r\nX-WL-Role: agent\r\n" + GetParam().headers + "\r\n";
    const auto response = rawExchange(relay.port(), request);
    EXPECT_EQ(statusOf(response), GetParam().status) << response;
    EXPECT_EQ(bodyOf(response), GetParam().body);
    if (GetParam().status == 426) {
        EXPECT_NE(response.find("\r\nSec-WebSocket-Version: 13\r\n"), std::string::npos) << response;
    }
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) { return stats.connections == 0 && stats.rooms == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedHandshakes,
    testing::Values(HandshakeRow { "noKey", "Sec-WebSocket-Version: 13\r\n", 400,
                        "invalid Sec-WebSocket-Key: expected 16 bytes in base64\n" },
        HandshakeRow { "shortKey", "Sec-WebSocket-Key: c2hvcnQ=\r\nSec-WebSocket-Version: 13\r\n", 400,
            "invalid Sec-WebSocket-Key: expected 16 bytes in base64\n" },
        HandshakeRow { "noVersion", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n", 426,
            "unsupported WebSocket version: expected 13\n" },
        HandshakeRow { "oldVersion", "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 8\r\n", 426,
            "unsupported WebSocket version: expected 13\n" }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
