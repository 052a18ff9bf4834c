// Peers that send slowly must not hold the relay's memory: a message (or the HTTP
// request before the upgrade) has a time bound from its first byte to its last,
// and all unfinished messages together a memory budget. Past either the peer is
// closed and nobody else notices. Real loopback sockets against an in-process relay.

#include "InProcessRelay.h"
#include "RelayTestSupport.h"
#include "WsTestClient.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <future>
#include <optional>
#include <thread>

using namespace Wardlamp;
using namespace Wardlamp::RelayTest;
using namespace std::chrono_literals;

namespace {

using Clock = std::chrono::steady_clock;

RelayOptions optionsWith(auto change)
{
    RelayOptions options = InProcessRelay::testOptions();
    change(options);
    return options;
}

// A client on a bare socket, so that it can send any prefix of a frame or request
// and pause anywhere. Sending and receiving may run on two threads at once.
class RawPeer {
public:
    explicit RawPeer(std::uint16_t port)
    {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const int one = 1;
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_connected = ::connect(m_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        // A receive never blocks a test past the default wait.
        const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(defaultWait());
        timeval timeout { static_cast<time_t>(wait.count() / 1000000),
            static_cast<suseconds_t>(wait.count() % 1000000) };
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    }
    ~RawPeer() { ::close(m_fd); }
    RawPeer(const RawPeer&) = delete;
    RawPeer& operator=(const RawPeer&) = delete;

    bool connected() const { return m_connected; }
    // Ends both directions: a blocked receive returns, a send fails.
    void shutdown() { ::shutdown(m_fd, SHUT_RDWR); }

    bool send(std::string_view bytes)
    {
        while (!bytes.empty()) {
            const ssize_t sent = ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
            if (sent <= 0)
                return false;
            bytes.remove_prefix(static_cast<std::size_t>(sent));
        }
        return true;
    }

    // Upgrades into `room` as `role` and reads the 101 answer's head.
    bool upgrade(const std::string& room, const std::string& role)
    {
        if (!send("GET /connect HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
                  "Sec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\nSec-WebSocket-Version: 13\r\nX-WL-Room: "
                + room + "\r\nX-WL-Role: " + role + "\r\n\r\n"))
            return false;
        while (m_received.find("\r\n\r\n") == std::string::npos)
            if (!receiveSome())
                return false;
        const auto end = m_received.find("\r\n\r\n") + 4;
        const bool switched = m_received.rfind("HTTP/1.1 101", 0) == 0;
        m_received.erase(0, end);
        return switched;
    }

    // Everything the relay sends until it closes the connection; false when it has
    // not closed it within the default wait.
    bool receiveUntilClosed()
    {
        for (;;) {
            char buffer[4096];
            const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
            if (got > 0) {
                m_received.append(buffer, static_cast<std::size_t>(got));
                continue;
            }
            return got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK);
        }
    }

    // The code of the close frame among the WebSocket frames received.
    std::optional<std::uint16_t> closeCode() const
    {
        std::size_t at = 0;
        while (at + 2 <= m_received.size()) {
            const auto* bytes = reinterpret_cast<const unsigned char*>(m_received.data() + at);
            std::size_t length = bytes[1] & 0x7f;
            std::size_t header = 2;
            if (length == 126) {
                length = (std::size_t(bytes[2]) << 8) | bytes[3];
                header = 4;
            }
            if (at + header + length > m_received.size())
                return std::nullopt;
            if ((bytes[0] & 0x0f) == 0x8 && length >= 2)
                return static_cast<std::uint16_t>((bytes[header] << 8) | bytes[header + 1]);
            at += header + length;
        }
        return std::nullopt;
    }

private:
    bool receiveSome()
    {
        char buffer[4096];
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0)
            return false;
        m_received.append(buffer, static_cast<std::size_t>(got));
        return true;
    }

    int m_fd = -1;
    bool m_connected = false;
    std::string m_received;
};

// The header of a masked client frame announcing `length` payload bytes.
std::string frameHeader(unsigned opcode, std::size_t length, bool fin = true)
{
    std::string header;
    header.push_back(static_cast<char>((fin ? 0x80 : 0) | opcode));
    if (length < 126) {
        header.push_back(static_cast<char>(0x80 | length));
    } else if (length <= 0xffff) {
        header.push_back(static_cast<char>(0x80 | 126));
        header.push_back(static_cast<char>(length >> 8));
        header.push_back(static_cast<char>(length & 0xff));
    } else {
        header.push_back(static_cast<char>(0x80 | 127));
        for (int i = 7; i >= 0; --i)
            header.push_back(static_cast<char>((length >> (8 * i)) & 0xff));
    }
    header.append(4, '\0'); // a zero mask: the payload goes as it is
    return header;
}

// A masked text frame holding `text`.
std::string textFrame(std::string_view text)
{
    return frameHeader(0x1, text.size()).append(text);
}

// An agent and a controller in one room, sending one message after another.
struct LivePair {
    WsTestClient agent;
    WsTestClient controller;
    int exchanged = 0;

    LivePair(std::uint16_t port, const std::string& room)
    {
        EXPECT_TRUE(agent.join(port, room, "agent"));
        EXPECT_TRUE(agent.read().ok);
        EXPECT_TRUE(controller.join(port, room, "controller"));
        EXPECT_TRUE(controller.read().ok);
        EXPECT_TRUE(agent.read().ok); // peerJoin
    }

    // One message each way; false when either did not arrive intact.
    bool exchange()
    {
        const std::string down = msgEnvelope("agent", "down-" + std::to_string(exchanged));
        const std::string up = msgEnvelope("controller", "up-" + std::to_string(exchanged));
        if (!agent.sendText(down) || controller.read().data != down)
            return false;
        if (!controller.sendText(up) || agent.read().data != up)
            return false;
        ++exchanged;
        return true;
    }
};

TEST(RelaySlowPeers, tricklingMessageIsClosedAfterTheTimeoutWhileARoomBesideKeepsExchanging)
{
    constexpr auto messageTimeout = 500ms;
    InProcessRelay relay(optionsWith([&](RelayOptions& o) { o.messageTimeout = messageTimeout; }));
    LivePair live(relay.port(), roomId(7));

    RawPeer trickler(relay.port());
    ASSERT_TRUE(trickler.connected());
    ASSERT_TRUE(trickler.upgrade(roomId(8), "controller"));
    // A 1000-byte message, 10 bytes of it at once and then one every 50 ms: each byte
    // keeps the idle sweep away, only the message's own bound can end it.
    const auto started = Clock::now();
    ASSERT_TRUE(trickler.send(frameHeader(0x1, 1000) + std::string(10, 'x')));
    std::atomic<bool> stop = false;
    auto trickle = std::async(std::launch::async, [&] {
        while (!stop && trickler.send("x"))
            std::this_thread::sleep_for(50ms);
    });
    auto closed = std::async(std::launch::async, [&] { return trickler.receiveUntilClosed(); });
    // On a failed assertion too, the two threads end before the futures wait for them.
    struct EndThreads {
        std::atomic<bool>& stop;
        RawPeer& peer;
        ~EndThreads()
        {
            stop = true;
            peer.shutdown();
        }
    } endThreads { stop, trickler };

    const auto deadline = Clock::now() + defaultWait();
    while (closed.wait_for(0s) != std::future_status::ready && Clock::now() < deadline)
        ASSERT_TRUE(live.exchange()) << "the live room stalled after " << live.exchanged << " exchanges";
    ASSERT_EQ(closed.wait_for(0s), std::future_status::ready) << "the trickling peer was never closed";
    const auto closedAfter = Clock::now() - started;
    stop = true;
    trickle.wait();
    EXPECT_TRUE(closed.get());
    EXPECT_EQ(trickler.closeCode(), 1008);
    EXPECT_GE(closedAfter, messageTimeout);
    EXPECT_GT(live.exchanged, 0);
    EXPECT_TRUE(live.exchange());
    EXPECT_TRUE(relay.waitForStats([](const RelayStats& stats) {
        return stats.slowMessagesClosed == 1 && stats.unfinishedMessageBytes == 0 && stats.peers == 2;
    }));
}

TEST(RelaySlowPeers, messagesPastTheBudgetAreClosedWithoutTouchingOtherPeers)
{
    constexpr std::size_t budget = 100 * 1024;
    InProcessRelay relay(optionsWith([&](RelayOptions& o) {
        o.unfinishedMessageBytes = budget;
        o.maxFrameBytes = budget;
    }));
    WsTestClient agent;
    ASSERT_TRUE(agent.join(relay.port(), roomId(7), "agent"));
    ASSERT_TRUE(agent.read().ok);

    // A controller in the agent's room sends 60 of a 90 KiB message and pauses.
    const std::string envelope = msgEnvelope("controller", payloadOfSize(90 * 1024 - 60));
    const std::string frame = textFrame(envelope);
    const std::size_t firstPart = 60 * 1024;
    RawPeer slow(relay.port());
    ASSERT_TRUE(slow.upgrade(roomId(7), "controller"));
    ASSERT_TRUE(agent.read().ok); // peerJoin
    ASSERT_TRUE(slow.send(std::string_view(frame).substr(0, firstPart)));
    ASSERT_TRUE(relay.waitForStats([&](const RelayStats& stats) { return stats.unfinishedMessageBytes >= 59 * 1024; }));

    // Another, in a room of its own, does the same: both would pass the budget.
    RawPeer greedy(relay.port());
    ASSERT_TRUE(greedy.upgrade(roomId(9), "controller"));
    ASSERT_TRUE(greedy.send(std::string_view(frame).substr(0, firstPart)));
    ASSERT_TRUE(greedy.receiveUntilClosed()) << "the peer past the budget was never closed";
    EXPECT_EQ(greedy.closeCode(), 1009);

    // The first finishes its message, which reaches the agent whole; other rooms work.
    ASSERT_TRUE(slow.send(std::string_view(frame).substr(firstPart)));
    const auto received = agent.read();
    EXPECT_EQ(received.data, envelope) << received.error;
    LivePair live(relay.port(), roomId(11));
    EXPECT_TRUE(live.exchange());
    const RelayStats stats = relay.stats();
    EXPECT_EQ(stats.overBudgetClosed, 1u);
    EXPECT_LE(stats.peakUnfinishedMessageBytes, budget);
    EXPECT_EQ(stats.unfinishedMessageBytes, 0u);
    EXPECT_EQ(stats.slowMessagesClosed, 0u);
}

TEST(RelaySlowPeers, wholeMessagesSentSlowlyButEachInTimeAreNotClosed)
{
    // Each message takes a fifth of the bound; together they take several bounds.
    const auto messageTimeout = waitFor(1s);
    constexpr auto pause = 100ms;
    InProcessRelay relay(optionsWith([&](RelayOptions& o) { o.messageTimeout = messageTimeout; }));
    WsTestClient agent;
    ASSERT_TRUE(agent.join(relay.port(), roomId(7), "agent"));
    ASSERT_TRUE(agent.read().ok);
    RawPeer slow(relay.port());
    ASSERT_TRUE(slow.upgrade(roomId(7), "controller"));
    ASSERT_TRUE(agent.read().ok); // peerJoin

    const auto started = Clock::now();
    int sent = 0;
    while (Clock::now() - started < 3 * messageTimeout) {
        const std::string envelope = msgEnvelope("controller", "slow-" + std::to_string(sent) + payloadOfSize(200));
        const std::string frame = textFrame(envelope);
        const std::size_t third = frame.size() / 3;
        for (std::size_t at = 0; at < frame.size(); at += third) {
            ASSERT_TRUE(slow.send(std::string_view(frame).substr(at, third)));
            std::this_thread::sleep_for(pause);
        }
        const auto received = agent.read();
        ASSERT_EQ(received.data, envelope) << "message " << sent << ": " << received.error;
        ++sent;
    }
    EXPECT_GE(sent, 3);
    EXPECT_EQ(relay.stats().slowMessagesClosed, 0u);
}

TEST(RelaySlowPeers, slowUpgradeRequestIsClosedAfterTheTimeout)
{
    constexpr auto messageTimeout = 500ms;
    InProcessRelay relay(optionsWith([&](RelayOptions& o) {
        o.messageTimeout = messageTimeout;
        o.idleTimeout = 60s; // a byte every 50 ms is never idle
    }));
    RawPeer slow(relay.port());
    ASSERT_TRUE(slow.connected());
    const auto started = Clock::now();
    ASSERT_TRUE(slow.send("GET /connect HTTP/1.1\r\nHost: x\r\nX-Padding: "));
    std::atomic<bool> stop = false;
    auto trickle = std::async(std::launch::async, [&] {
        while (!stop && slow.send("a"))
            std::this_thread::sleep_for(50ms);
    });
    const bool closed = slow.receiveUntilClosed();
    const auto closedAfter = Clock::now() - started;
    stop = true;
    trickle.wait();
    ASSERT_TRUE(closed) << "the slow request was never closed";
    EXPECT_GE(closedAfter, messageTimeout);
    EXPECT_TRUE(relay.waitForStats(
        [](const RelayStats& stats) { return stats.slowRequestsClosed == 1 && stats.connections == 0; }));
    // The relay serves on.
    EXPECT_EQ(statusOf(rawExchange(relay.port(), "GET /healthz HTTP/1.1\r\n\r\n")), 200);
}

} // namespace
