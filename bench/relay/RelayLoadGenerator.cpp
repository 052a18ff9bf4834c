// Load generator for relays that speak the Wardlamp room protocol (wardlamp-relay or
// node-relay.js). Opens N rooms of one agent and one controller, then
//   1. a paced phase: agents send ~1 KiB "msg" envelopes at a fixed total rate;
//      controllers measure send-to-receive latency (the send time is the scheduled
//      one, so a stalled relay cannot hide queueing);
//   2. a saturation phase: each room keeps a small window of messages in flight and
//      sends the next as soon as one arrives; forwarded messages per second.
// With --relay-pid it reads the relay's VmRSS before connecting and after phase 1,
// its peak (VmHWM, and VmRSS sampled every 100 ms), and the relay's CPU time during
// phase 2. Prints one JSON object on stdout.
//
// Slow peers (--tricklers N): N more connections, each a controller in a room of its
// own, that announce a message of --trickle-announced-bytes, send
// --trickle-held-bytes of it at once and then one byte every --trickle-interval
// seconds, never finishing it. One the relay closes comes back after
// --trickle-reconnect seconds and starts over; the closes are counted by code.
// With --round-trip 1 the paced phase measures round trips: every controller sends
// back at once what its agent sent, and the agent takes the time.
// --saturation-seconds 0 skips phase 2.
//
// The generator shares the machine with the relay under test, so it is built to
// cost as little as possible per message and leave the relay as the bottleneck:
// one thread and one epoll set, frames masked once at start-up (only the 16 stamp
// bytes are masked per message), every agent's frames of one loop turn written
// with one send(), every readable socket drained with one large recv().

#include <sched.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/timerfd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Settings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    int rooms = 500;
    double rate = 20000; // messages per second in the paced phase, all rooms together
    double pacedSeconds = 8;
    double saturationSeconds = 8;
    int window = 4;
    int payloadBytes = 1024;
    int relayPid = 0;
    int tickMicros = 100; // pacing granularity
    bool pinSaturation = false; // relay on CPU 0, generator on CPU 1 for the saturation phase
    int tricklers = 0;
    int trickleHeldBytes = 8192;
    int trickleAnnouncedBytes = 65536;
    double trickleIntervalSeconds = 5;
    double trickleReconnectSeconds = 1;
    bool roundTrip = false;
};

std::uint64_t nowNs()
{
    timespec ts {};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint64_t>(ts.tv_sec) * 1000000000u + static_cast<std::uint64_t>(ts.tv_nsec);
}

// A "Vm…:" line of /proc/PID/status in KiB: VmRSS now, VmHWM the peak so far.
long statusKb(int pid, const char* field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    const std::size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0)
            return std::atol(line.c_str() + length);
    return -1;
}

long rssKb(int pid)
{
    return statusKb(pid, "VmRSS:");
}

// CPU seconds (user + system) the process has used so far.
double cpuSeconds(int pid)
{
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::stoul(field);
        if (i == 15)
            stime = std::stoul(field);
    }
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double ownCpuSeconds()
{
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Latencies in microseconds, 1 µs buckets up to 1 s, one overflow bucket.
struct Histogram {
    std::vector<std::uint64_t> buckets = std::vector<std::uint64_t>(1000001, 0);
    std::uint64_t count = 0;
    void add(std::uint64_t micros)
    {
        ++buckets[std::min<std::uint64_t>(micros, buckets.size() - 1)];
        ++count;
    }
    double percentile(double p) const
    {
        if (count == 0)
            return -1;
        const auto target = static_cast<std::uint64_t>(p * static_cast<double>(count - 1)) + 1;
        std::uint64_t seen = 0;
        for (std::size_t i = 0; i < buckets.size(); ++i) {
            seen += buckets[i];
            if (seen >= target)
                return static_cast<double>(i);
        }
        return static_cast<double>(buckets.size() - 1);
    }
};

enum class Phase { connecting, settle, paced, gap, saturation, done };

constexpr std::uint32_t maskKey = 0x5a3c96e1; // any key; the relays unmask whatever it is
constexpr std::size_t readChunk = 256 * 1024;
constexpr int maxPendingConnects = 256;

struct Connection {
    int fd = -1;
    int room = 0;
    bool agent = false;
    bool trickler = false; // holds an unfinished message (see --tricklers)
    bool everUpgraded = false;
    std::uint64_t reconnectAtNs = 0; // a trickler the relay closed: when to come back
    std::size_t trickled = 0; // bytes of the announced payload sent
    bool upgraded = false; // the 101 answer has been read
    bool dirty = false; // in the flush list
    bool waitingWritable = false; // EPOLLOUT armed for a partial send
    std::string request; // the upgrade request until it is sent
    std::string input; // bytes of an incomplete frame (or response head)
    std::string output; // frames not yet sent
    std::size_t outputOffset = 0;
};

class LoadGenerator {
public:
    explicit LoadGenerator(const Settings& settings)
        : m_settings(settings)
    {
        buildFrame();
        m_epoll = epoll_create1(EPOLL_CLOEXEC);
        m_timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
        epoll_event event {};
        event.events = EPOLLIN;
        event.data.u64 = timerTag;
        epoll_ctl(m_epoll, EPOLL_CTL_ADD, m_timer, &event);
        itimerspec tick {};
        tick.it_interval.tv_nsec = static_cast<long>(settings.tickMicros) * 1000;
        tick.it_value = tick.it_interval;
        timerfd_settime(m_timer, 0, &tick, nullptr);
        m_liveConnections = static_cast<std::size_t>(settings.rooms) * 2;
        m_connections.resize(m_liveConnections + static_cast<std::size_t>(settings.tricklers));
        m_readBuffer.resize(readChunk + 64 * 1024);
    }

    int run();

private:
    static constexpr std::uint64_t timerTag = ~std::uint64_t(0);

    void buildFrame();
    bool connectNext();
    bool open(std::size_t index);
    void closeTrickler(Connection& trickler, int code);
    void trickle(std::uint64_t now);
    void handleEvent(std::size_t index, std::uint32_t events);
    void handleReadable(Connection& connection);
    bool readUpgrade(Connection& connection, const char* data, std::size_t size);
    std::size_t parseFrames(Connection& connection, const char* data, std::size_t size);
    void handleMessage(Connection& controller, const char* payload, std::size_t size);
    void sendPong(Connection& connection, const char* payload, std::size_t size);
    void queueMessage(Connection& agent, std::uint64_t stamp);
    void markDirty(Connection& connection);
    void flush();
    void flushOne(Connection& connection);
    void handleTick();
    void setPhase(Phase phase);
    void pinForSaturation();
    void fail(const char* what, int error);
    void watch(Connection& connection, std::uint32_t events, int op);

    const Settings& m_settings;
    int m_epoll = -1;
    int m_timer = -1;
    std::vector<Connection> m_connections;
    std::vector<Connection*> m_dirty;
    // A masked client frame with a zero stamp, as agents send it and (with --round-trip)
    // as controllers send it back.
    struct Template {
        std::string frame;
        std::size_t stampOffset = 0; // of the stamp in frame
        std::size_t payloadBytes = 0; // of the "msg" envelope
        std::size_t stampPayloadOffset = 0; // of the stamp in the envelope
    };
    Template buildTemplate(const char* role) const;
    Template m_agentFrame, m_controllerFrame;
    std::string m_envelopePrefix; // what every forwarded envelope starts with
    std::vector<char> m_readBuffer;
    std::size_t m_nextToConnect = 0;
    int m_pendingConnects = 0;
    int m_connected = 0;
    int m_failures = 0;

    Phase m_phase = Phase::connecting;
    std::uint64_t m_phaseStartNs = 0;
    std::uint64_t m_pacedSent = 0, m_pacedReceived = 0, m_saturationReceived = 0;
    std::uint64_t m_saturationCounted = 0; // received once the warm-up second has passed
    std::size_t m_roundRobin = 0;
    Histogram m_paced, m_saturation;

    // Figures gathered along the way.
    double m_connectSeconds = 0;
    long m_rssIdle = -1, m_rssLoaded = -1, m_rssSaturated = -1;
    double m_relayCpuStart = 0, m_ownCpuStart = 0, m_relayCpu = 0, m_ownCpu = 0;
    std::uint64_t m_countStartNs = 0, m_countEndNs = 0;
    std::uint64_t m_longestPacedTurnNs = 0; // the generator's own longest stall while pacing

    std::size_t m_liveConnections = 0; // rooms × 2; tricklers come after them
    std::size_t m_trickleNext = 0; // round robin over the tricklers
    double m_trickleQuota = 0;
    std::uint64_t m_lastTrickleNs = 0;
    std::uint64_t m_closes1008 = 0, m_closes1009 = 0, m_closesOther = 0, m_reconnects = 0, m_trickledBytes = 0;
    std::uint64_t m_lastRssSampleNs = 0;
    long m_rssPeakSampled = -1;
};

void LoadGenerator::buildFrame()
{
    m_envelopePrefix = R"({"v":1,"kind":"msg")";
    m_agentFrame = buildTemplate("agent");
    m_controllerFrame = buildTemplate("controller");
}

LoadGenerator::Template LoadGenerator::buildTemplate(const char* role) const
{
    // {"v":1,"kind":"msg","role":"<role>","payload":"<16 hex ns><base64 filler>"}
    Template out;
    std::string envelope = std::string(R"({"v":1,"kind":"msg","role":")") + role + R"(","payload":")";
    out.stampPayloadOffset = envelope.size();
    static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string payload(static_cast<std::size_t>(m_settings.payloadBytes), 'A');
    unsigned state = 12345;
    for (auto& c : payload) {
        state = state * 1664525u + 1013904223u;
        c = alphabet[(state >> 24) % 64];
    }
    std::memset(payload.data(), '0', 16);
    envelope += payload + "\"}";
    out.payloadBytes = envelope.size();

    std::string header;
    header.push_back(static_cast<char>(0x81)); // FIN, text
    if (envelope.size() < 126) {
        header.push_back(static_cast<char>(0x80 | envelope.size()));
    } else {
        header.push_back(static_cast<char>(0x80 | 126));
        header.push_back(static_cast<char>((envelope.size() >> 8) & 0xff));
        header.push_back(static_cast<char>(envelope.size() & 0xff));
    }
    const unsigned char key[4] = { static_cast<unsigned char>(maskKey >> 24), static_cast<unsigned char>(maskKey >> 16),
        static_cast<unsigned char>(maskKey >> 8), static_cast<unsigned char>(maskKey) };
    header.append(reinterpret_cast<const char*>(key), 4);
    for (std::size_t i = 0; i < envelope.size(); ++i)
        envelope[i] = static_cast<char>(envelope[i] ^ key[i % 4]);
    out.stampOffset = header.size() + out.stampPayloadOffset;
    out.frame = header + envelope;
    return out;
}

void LoadGenerator::fail(const char* what, int error)
{
    if (m_failures++ < 5)
        std::fprintf(stderr, "loadgen: %s failed: %s\n", what, std::strerror(error));
}

void LoadGenerator::watch(Connection& connection, std::uint32_t events, int op)
{
    epoll_event event {};
    event.events = events;
    event.data.u64 = static_cast<std::uint64_t>(&connection - m_connections.data());
    epoll_ctl(m_epoll, op, connection.fd, &event);
}

bool LoadGenerator::connectNext()
{
    return open(m_nextToConnect++);
}

bool LoadGenerator::open(std::size_t index)
{
    Connection& connection = m_connections[index];
    connection.trickler = index >= m_liveConnections;
    connection.room = connection.trickler ? static_cast<int>(m_liveConnections / 2 + (index - m_liveConnections))
                                          : static_cast<int>(index / 2);
    connection.agent = !connection.trickler && index % 2 == 0;
    connection.upgraded = false;
    connection.waitingWritable = false;
    connection.input.clear();
    connection.output.clear();
    connection.outputOffset = 0;
    connection.trickled = 0;
    connection.reconnectAtNs = 0;
    connection.fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (connection.fd < 0) {
        fail("socket", errno);
        return false;
    }
    const int one = 1;
    setsockopt(connection.fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_port = htons(m_settings.port);
    inet_pton(AF_INET, m_settings.host.c_str(), &address.sin_addr);
    if (::connect(connection.fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 && errno != EINPROGRESS) {
        fail("connect", errno);
        return false;
    }
    char roomId[33];
    std::snprintf(roomId, sizeof roomId, "%032x", connection.room + 1);
    connection.request = std::string("GET /connect?room=") + roomId
        + "&role=" + (connection.agent ? "agent" : "controller") + " HTTP/1.1\r\nHost: " + m_settings.host
        + "\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==\r\n"
          "Sec-WebSocket-Version: 13\r\n\r\n";
    watch(connection, EPOLLOUT, EPOLL_CTL_ADD);
    if (!connection.everUpgraded)
        ++m_pendingConnects;
    return true;
}

// The relay closed a trickler (`code` 0: without a close frame): it comes back later.
void LoadGenerator::closeTrickler(Connection& trickler, int code)
{
    (code == 1008 ? m_closes1008 : code == 1009 ? m_closes1009 : m_closesOther) += 1;
    epoll_ctl(m_epoll, EPOLL_CTL_DEL, trickler.fd, nullptr);
    ::close(trickler.fd);
    trickler.fd = -1;
    trickler.upgraded = false;
    trickler.reconnectAtNs
        = nowNs() + static_cast<std::uint64_t>(std::max(0.001, m_settings.trickleReconnectSeconds) * 1e9);
}

// Visits the tricklers in turn, each once per interval: one more byte of its
// message, or its return once the reconnect delay has passed.
void LoadGenerator::trickle(std::uint64_t now)
{
    const std::size_t count = m_connections.size() - m_liveConnections;
    if (count == 0)
        return;
    if (m_lastTrickleNs == 0)
        m_lastTrickleNs = now;
    m_trickleQuota += static_cast<double>(now - m_lastTrickleNs) / 1e9 / m_settings.trickleIntervalSeconds
        * static_cast<double>(count);
    m_lastTrickleNs = now;
    while (m_trickleQuota >= 1) {
        m_trickleQuota -= 1;
        Connection& trickler = m_connections[m_liveConnections + m_trickleNext];
        m_trickleNext = (m_trickleNext + 1) % count;
        if (trickler.fd < 0) {
            if (trickler.reconnectAtNs != 0 && now >= trickler.reconnectAtNs) {
                ++m_reconnects;
                open(static_cast<std::size_t>(&trickler - m_connections.data()));
            }
            continue;
        }
        if (!trickler.upgraded || trickler.trickled + 1 >= static_cast<std::size_t>(m_settings.trickleAnnouncedBytes))
            continue;
        trickler.output.push_back('x');
        ++trickler.trickled;
        ++m_trickledBytes;
        markDirty(trickler);
    }
}

void LoadGenerator::handleEvent(std::size_t index, std::uint32_t events)
{
    Connection& connection = m_connections[index];
    if (connection.fd < 0)
        return; // a trickler closed earlier in this turn
    if (!connection.request.empty() && (events & (EPOLLOUT | EPOLLERR | EPOLLHUP))) {
        const ssize_t sent = ::send(connection.fd, connection.request.data(), connection.request.size(), MSG_NOSIGNAL);
        if (sent != static_cast<ssize_t>(connection.request.size())) {
            fail("handshake send", sent < 0 ? errno : EAGAIN);
            return;
        }
        connection.request.clear();
        watch(connection, EPOLLIN, EPOLL_CTL_MOD);
        return;
    }
    if (events & EPOLLOUT) {
        connection.waitingWritable = false;
        watch(connection, EPOLLIN, EPOLL_CTL_MOD);
        markDirty(connection);
    }
    if (events & (EPOLLIN | EPOLLERR | EPOLLHUP))
        handleReadable(connection);
}

void LoadGenerator::handleReadable(Connection& connection)
{
    for (;;) {
        // Leftover bytes of an incomplete frame go first, then one large read after them.
        const std::size_t kept = connection.input.size();
        if (kept + readChunk > m_readBuffer.size())
            m_readBuffer.resize(kept + readChunk);
        std::memcpy(m_readBuffer.data(), connection.input.data(), kept);
        const ssize_t got = ::recv(connection.fd, m_readBuffer.data() + kept, readChunk, 0);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            if (connection.trickler) {
                closeTrickler(connection, 0);
                return;
            }
            if (m_phase != Phase::done)
                fail("read", got == 0 ? ECONNRESET : errno);
            epoll_ctl(m_epoll, EPOLL_CTL_DEL, connection.fd, nullptr);
            return;
        }
        if (got < 0)
            return;
        const char* data = m_readBuffer.data();
        std::size_t size = kept + static_cast<std::size_t>(got);
        std::size_t used = 0;
        if (!connection.upgraded) {
            const std::string_view text(data, size);
            const auto end = text.find("\r\n\r\n");
            if (end == std::string_view::npos) {
                connection.input.assign(data, size);
                return;
            }
            if (text.rfind("HTTP/1.1 101", 0) != 0) {
                if (connection.trickler && connection.everUpgraded) {
                    closeTrickler(connection, 0); // refused on its return: tries again later
                    return;
                }
                fail("handshake", EPROTO);
                return;
            }
            connection.upgraded = true;
            if (!connection.everUpgraded) {
                connection.everUpgraded = true;
                ++m_connected;
                --m_pendingConnects;
            }
            used = end + 4;
            if (connection.trickler) {
                // The unfinished message: its header (zero mask) and the part held.
                const auto announced = static_cast<std::uint64_t>(m_settings.trickleAnnouncedBytes);
                std::string header;
                header.push_back(static_cast<char>(0x81));
                header.push_back(static_cast<char>(0x80 | 127));
                for (int i = 7; i >= 0; --i)
                    header.push_back(static_cast<char>((announced >> (8 * i)) & 0xff));
                header.append(4, '\0');
                connection.output = header + std::string(static_cast<std::size_t>(m_settings.trickleHeldBytes), 'x');
                connection.trickled = static_cast<std::size_t>(m_settings.trickleHeldBytes);
                markDirty(connection);
            }
        }
        used += parseFrames(connection, data + used, size - used);
        if (connection.fd < 0)
            return; // a trickler the relay closed
        connection.input.assign(data + used, size - used);
        if (static_cast<std::size_t>(got) < readChunk)
            return;
    }
}

// Frames from a server are not masked. Returns the bytes of whole frames consumed.
std::size_t LoadGenerator::parseFrames(Connection& connection, const char* data, std::size_t size)
{
    std::size_t at = 0;
    for (;;) {
        if (size - at < 2)
            return at;
        const auto* bytes = reinterpret_cast<const unsigned char*>(data + at);
        const unsigned opcode = bytes[0] & 0x0f;
        std::uint64_t length = bytes[1] & 0x7f;
        std::size_t header = 2;
        if (length == 126) {
            if (size - at < 4)
                return at;
            length = (std::uint64_t(bytes[2]) << 8) | bytes[3];
            header = 4;
        } else if (length == 127) {
            if (size - at < 10)
                return at;
            length = 0;
            for (int i = 0; i < 8; ++i)
                length = (length << 8) | bytes[2 + i];
            header = 10;
        }
        if (size - at < header + length)
            return at;
        const char* payload = data + at + header;
        if (opcode == 1 || opcode == 2) {
            if (!connection.trickler)
                handleMessage(connection, payload, static_cast<std::size_t>(length));
        } else if (opcode == 9) {
            sendPong(connection, payload, static_cast<std::size_t>(length));
        } else if (opcode == 8 && connection.trickler) {
            const auto* code = reinterpret_cast<const unsigned char*>(payload);
            closeTrickler(connection, length >= 2 ? (code[0] << 8) | code[1] : 0);
            return at;
        } else if (opcode == 8 && m_phase != Phase::done) {
            fail("relay closed a connection", ECONNRESET);
        }
        at += header + static_cast<std::size_t>(length);
    }
}

// A controller gets what its agent sent; with --round-trip an agent gets it back.
void LoadGenerator::handleMessage(Connection& receiver, const char* payload, std::size_t size)
{
    if (receiver.agent && !m_settings.roundTrip)
        return;
    const Template& sent = receiver.agent ? m_controllerFrame : m_agentFrame;
    if (size != sent.payloadBytes || std::memcmp(payload, m_envelopePrefix.data(), m_envelopePrefix.size()) != 0)
        return; // welcome, peerJoin, ...
    std::uint64_t sentAt = 0;
    for (int i = 0; i < 16; ++i) {
        const char c = payload[sent.stampPayloadOffset + static_cast<std::size_t>(i)];
        sentAt = (sentAt << 4) | static_cast<std::uint64_t>(c <= '9' ? c - '0' : c - 'a' + 10);
    }
    if (m_settings.roundTrip && !receiver.agent) {
        // Back to the agent at once, with the agent's stamp: the agent times the round trip.
        if (m_phase == Phase::paced)
            queueMessage(receiver, sentAt);
        return;
    }
    const std::uint64_t now = nowNs();
    const std::uint64_t micros = now > sentAt ? (now - sentAt) / 1000 : 0;
    if (m_phase == Phase::paced) {
        m_paced.add(micros);
        ++m_pacedReceived;
    } else if (m_phase == Phase::saturation) {
        m_saturation.add(micros);
        ++m_saturationReceived;
        queueMessage(m_connections[static_cast<std::size_t>(receiver.room) * 2], now);
    }
}

void LoadGenerator::sendPong(Connection& connection, const char* payload, std::size_t size)
{
    std::string frame;
    frame.push_back(static_cast<char>(0x8a));
    frame.push_back(static_cast<char>(0x80 | std::min<std::size_t>(size, 125)));
    frame.append(4, '\0'); // zero mask: the payload goes as it is
    frame.append(payload, std::min<std::size_t>(size, 125));
    connection.output.append(frame);
    markDirty(connection);
}

void LoadGenerator::queueMessage(Connection& sender, std::uint64_t stamp)
{
    static constexpr char hex[] = "0123456789abcdef";
    const Template& frame = sender.agent ? m_agentFrame : m_controllerFrame;
    const std::size_t at = sender.output.size();
    sender.output.append(frame.frame);
    char* stampBytes = sender.output.data() + at + frame.stampOffset;
    const std::size_t keyPhase = frame.stampPayloadOffset; // mask index of the first stamp byte
    for (int i = 0; i < 16; ++i) {
        const auto digit = hex[(stamp >> (60 - 4 * i)) & 0xf];
        const auto keyByte = static_cast<char>(maskKey >> (8 * (3 - (keyPhase + static_cast<std::size_t>(i)) % 4)));
        stampBytes[i] = static_cast<char>(digit ^ keyByte);
    }
    markDirty(sender);
}

void LoadGenerator::markDirty(Connection& connection)
{
    if (!connection.dirty) {
        connection.dirty = true;
        m_dirty.push_back(&connection);
    }
}

void LoadGenerator::flush()
{
    for (Connection* connection : m_dirty) {
        connection->dirty = false;
        flushOne(*connection);
    }
    m_dirty.clear();
}

void LoadGenerator::flushOne(Connection& connection)
{
    if (connection.fd < 0 || connection.waitingWritable || !connection.upgraded)
        return;
    const std::size_t left = connection.output.size() - connection.outputOffset;
    if (left == 0)
        return;
    const ssize_t sent
        = ::send(connection.fd, connection.output.data() + connection.outputOffset, left, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        if (m_phase != Phase::done)
            fail("write", errno);
        return;
    }
    connection.outputOffset += static_cast<std::size_t>(std::max<ssize_t>(sent, 0));
    if (connection.outputOffset == connection.output.size()) {
        connection.output.clear();
        connection.outputOffset = 0;
        return;
    }
    connection.waitingWritable = true;
    watch(connection, EPOLLIN | EPOLLOUT, EPOLL_CTL_MOD);
}

void LoadGenerator::setPhase(Phase phase)
{
    m_phase = phase;
    m_phaseStartNs = nowNs();
}

// Left to itself the scheduler tends to run a socket's writer and reader on one core,
// which halves what either can do; for throughput the relay's main thread and the
// generator get a core each. The paced phase runs unpinned, as a relay would.
void LoadGenerator::pinForSaturation()
{
    cpu_set_t relayCpu;
    CPU_ZERO(&relayCpu);
    CPU_SET(0, &relayCpu);
    cpu_set_t ownCpu;
    CPU_ZERO(&ownCpu);
    CPU_SET(1, &ownCpu);
    if ((m_settings.relayPid && sched_setaffinity(m_settings.relayPid, sizeof relayCpu, &relayCpu) != 0)
        || sched_setaffinity(0, sizeof ownCpu, &ownCpu) != 0)
        std::fprintf(stderr, "loadgen: cannot pin the relay and the generator: %s\n", std::strerror(errno));
}

void LoadGenerator::handleTick()
{
    std::uint64_t expirations = 0;
    if (::read(m_timer, &expirations, sizeof expirations) < 0)
        return;
    const std::uint64_t now = nowNs();
    const double elapsed = static_cast<double>(now - m_phaseStartNs) / 1e9;
    if (m_phase != Phase::connecting)
        trickle(now);
    if (m_settings.relayPid && now - m_lastRssSampleNs >= 100000000u) {
        m_lastRssSampleNs = now;
        m_rssPeakSampled = std::max(m_rssPeakSampled, rssKb(m_settings.relayPid));
    }
    switch (m_phase) {
    case Phase::connecting:
        while (m_pendingConnects < maxPendingConnects && m_nextToConnect < m_connections.size())
            if (!connectNext())
                return;
        if (m_connected == static_cast<int>(m_connections.size())) {
            m_connectSeconds = elapsed;
            setPhase(Phase::settle);
        } else if (elapsed > 120) {
            std::fprintf(stderr, "loadgen: only %d of %zu connections opened\n", m_connected, m_connections.size());
            std::_Exit(1);
        }
        break;
    case Phase::settle: // let peerJoin traffic settle
        if (elapsed >= 0.5)
            setPhase(Phase::paced);
        break;
    case Phase::paced: {
        const auto due = static_cast<std::uint64_t>(elapsed * m_settings.rate);
        const std::size_t rooms = m_liveConnections / 2;
        while (m_pacedSent < due) {
            // The scheduled time of this message, not the moment the loop got to it.
            const auto scheduled
                = m_phaseStartNs + static_cast<std::uint64_t>(static_cast<double>(m_pacedSent) / m_settings.rate * 1e9);
            queueMessage(m_connections[(m_roundRobin++ % rooms) * 2], scheduled);
            ++m_pacedSent;
        }
        if (elapsed >= m_settings.pacedSeconds)
            setPhase(Phase::gap);
        break;
    }
    case Phase::gap: // the last paced messages arrive
        if (elapsed >= 1.0) {
            if (m_settings.relayPid)
                m_rssLoaded = rssKb(m_settings.relayPid);
            if (m_settings.saturationSeconds <= 0) {
                m_countStartNs = m_countEndNs = now;
                setPhase(Phase::done);
                break;
            }
            if (m_settings.pinSaturation)
                pinForSaturation();
            setPhase(Phase::saturation);
            for (std::size_t i = 0; i < m_liveConnections; i += 2)
                for (int w = 0; w < m_settings.window; ++w)
                    queueMessage(m_connections[i], now);
        }
        break;
    case Phase::saturation:
        // Count only after a warm-up second.
        if (m_countStartNs == 0 && elapsed >= 1.0) {
            m_countStartNs = now;
            m_saturationCounted = m_saturationReceived;
            m_ownCpuStart = ownCpuSeconds();
            if (m_settings.relayPid)
                m_relayCpuStart = cpuSeconds(m_settings.relayPid);
        } else if (m_countStartNs != 0 && elapsed >= 1.0 + m_settings.saturationSeconds) {
            m_countEndNs = now;
            m_saturationCounted = m_saturationReceived - m_saturationCounted;
            m_ownCpu = ownCpuSeconds() - m_ownCpuStart;
            if (m_settings.relayPid) {
                m_relayCpu = cpuSeconds(m_settings.relayPid) - m_relayCpuStart;
                m_rssSaturated = rssKb(m_settings.relayPid);
            }
            setPhase(Phase::done);
        }
        break;
    case Phase::done:
        break;
    }
}

int LoadGenerator::run()
{
    m_rssIdle = m_settings.relayPid ? rssKb(m_settings.relayPid) : -1;
    setPhase(Phase::connecting);
    std::vector<epoll_event> events(1024);
    std::uint64_t lastTurn = nowNs();
    while (m_phase != Phase::done) {
        const int count = epoll_wait(m_epoll, events.data(), static_cast<int>(events.size()), 100);
        const std::uint64_t turn = nowNs();
        if (m_phase == Phase::paced)
            m_longestPacedTurnNs = std::max(m_longestPacedTurnNs, turn - lastTurn);
        lastTurn = turn;
        for (int i = 0; i < count; ++i) {
            if (events[static_cast<std::size_t>(i)].data.u64 == timerTag)
                handleTick();
            else
                handleEvent(static_cast<std::size_t>(events[static_cast<std::size_t>(i)].data.u64),
                    events[static_cast<std::size_t>(i)].events);
        }
        flush();
        if (m_failures > 0 && m_phase == Phase::connecting) {
            std::fprintf(stderr, "loadgen: only %d of %zu connections opened\n", m_connected, m_connections.size());
            return 1;
        }
    }

    const double seconds = std::max(1e-9, static_cast<double>(m_countEndNs - m_countStartNs) / 1e9);
    const int connections = static_cast<int>(m_liveConnections);
    const long rssPeak = m_settings.relayPid ? statusKb(m_settings.relayPid, "VmHWM:") : -1;
    std::printf("{\"rooms\":%d,\"connections\":%d,\"connect_seconds\":%.2f,"
                "\"paced\":{\"rate\":%.0f,\"sent\":%" PRIu64 ",\"received\":%" PRIu64
                ",\"p50_us\":%.0f,\"p99_us\":%.0f,\"max_us\":%.0f,\"loadgen_longest_turn_us\":%.0f},"
                "\"saturation\":{\"msgs_per_s\":%.0f,\"p50_us\":%.0f,\"p99_us\":%.0f,\"relay_cpu_share\":%.2f,"
                "\"loadgen_cpu_share\":%.2f,\"msgs_per_relay_cpu_s\":%.0f},"
                "\"rss_idle_kb\":%ld,\"rss_loaded_kb\":%ld,\"rss_saturated_kb\":%ld,\"rss_per_connection_bytes\":%.0f,"
                "\"failures\":%d,\"round_trip\":%s,\"rss_peak_kb\":%ld,\"rss_peak_sampled_kb\":%ld,"
                "\"tricklers\":{\"count\":%d,\"held_bytes\":%d,\"announced_bytes\":%d,\"interval_s\":%.2f,"
                "\"closed_1008\":%" PRIu64 ",\"closed_1009\":%" PRIu64 ",\"closed_other\":%" PRIu64
                ",\"reconnects\":%" PRIu64 ",\"trickled_bytes\":%" PRIu64 "}}\n",
        m_settings.rooms, connections, m_connectSeconds, m_settings.rate, m_pacedSent, m_pacedReceived,
        m_paced.percentile(0.50), m_paced.percentile(0.99), m_paced.percentile(1.0),
        static_cast<double>(m_longestPacedTurnNs) / 1000.0, static_cast<double>(m_saturationCounted) / seconds,
        m_saturation.percentile(0.50), m_saturation.percentile(0.99), m_relayCpu / seconds, m_ownCpu / seconds,
        m_relayCpu > 0 ? static_cast<double>(m_saturationCounted) / m_relayCpu : -1.0, m_rssIdle, m_rssLoaded,
        m_rssSaturated, m_rssIdle >= 0 ? static_cast<double>(m_rssLoaded - m_rssIdle) * 1024.0 / connections : -1.0,
        m_failures, m_settings.roundTrip ? "true" : "false", rssPeak, m_rssPeakSampled, m_settings.tricklers,
        m_settings.trickleHeldBytes, m_settings.trickleAnnouncedBytes, m_settings.trickleIntervalSeconds, m_closes1008,
        m_closes1009, m_closesOther, m_reconnects, m_trickledBytes);
    std::fflush(stdout);
    return 0;
}

void raiseDescriptorLimit(rlim_t wanted)
{
    rlimit limit {};
    getrlimit(RLIMIT_NOFILE, &limit);
    if (limit.rlim_max < wanted) {
        rlimit raised { wanted, wanted };
        if (setrlimit(RLIMIT_NOFILE, &raised) == 0)
            return;
    }
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

Settings parse(int argc, char** argv)
{
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        const char* value = argv[i + 1];
        if (flag == "--connect") {
            const std::string text = value;
            const auto colon = text.rfind(':');
            s.host = text.substr(0, colon);
            s.port = static_cast<std::uint16_t>(std::atoi(text.c_str() + colon + 1));
        } else if (flag == "--rooms")
            s.rooms = std::max(1, std::atoi(value));
        else if (flag == "--rate")
            s.rate = std::atof(value);
        else if (flag == "--paced-seconds")
            s.pacedSeconds = std::atof(value);
        else if (flag == "--saturation-seconds")
            s.saturationSeconds = std::atof(value);
        else if (flag == "--window")
            s.window = std::max(1, std::atoi(value));
        else if (flag == "--payload-bytes")
            s.payloadBytes = std::max(16, std::atoi(value));
        else if (flag == "--relay-pid")
            s.relayPid = std::atoi(value);
        else if (flag == "--pin-saturation")
            s.pinSaturation = std::atoi(value) != 0;
        else if (flag == "--tricklers")
            s.tricklers = std::max(0, std::atoi(value));
        else if (flag == "--trickle-held-bytes")
            s.trickleHeldBytes = std::max(0, std::atoi(value));
        else if (flag == "--trickle-announced-bytes")
            s.trickleAnnouncedBytes = std::max(2, std::atoi(value));
        else if (flag == "--trickle-interval")
            s.trickleIntervalSeconds = std::max(0.001, std::atof(value));
        else if (flag == "--trickle-reconnect")
            s.trickleReconnectSeconds = std::atof(value);
        else if (flag == "--round-trip")
            s.roundTrip = std::atoi(value) != 0;
        else if (flag == "--tick-us")
            s.tickMicros = std::clamp(std::atoi(value), 10, 100000);
        else {
            std::fprintf(stderr, "loadgen: unknown option %s\n", flag.c_str());
            std::exit(2);
        }
    }
    s.trickleHeldBytes = std::min(s.trickleHeldBytes, s.trickleAnnouncedBytes - 1); // never finished
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    const Settings settings = parse(argc, argv);
    raiseDescriptorLimit(static_cast<rlim_t>(settings.rooms) * 2 + static_cast<rlim_t>(settings.tricklers) + 256);
    LoadGenerator generator(settings);
    const int status = generator.run();
    std::_Exit(status);
}
