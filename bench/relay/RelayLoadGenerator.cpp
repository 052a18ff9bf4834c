// Load generator for relays that speak the Wardlamp room protocol (wardlamp-relay or
// node-relay.js). Opens N rooms of one agent and one controller, then
//   1. a paced phase: agents send ~1 KiB "msg" envelopes at a fixed total rate;
//      controllers measure send-to-receive latency (the send time is the scheduled
//      one, so a stalled relay cannot hide queueing);
//   2. a saturation phase: each room keeps a small window of messages in flight and
//      sends the next as soon as one arrives; forwarded messages per second.
// With --relay-pid it reads the relay's VmRSS before connecting and after phase 1.
// Prints one JSON object on stdout. Threads each run their own io_context and rooms.

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <atomic>
#include <barrier>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace net = boost::asio;
namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

namespace {

struct Settings {
    std::string host = "127.0.0.1";
    std::uint16_t port = 0;
    int rooms = 1000;
    int threads = 2;
    double rate = 20000; // messages per second in the paced phase, all rooms together
    double pacedSeconds = 10;
    double saturationSeconds = 10;
    int window = 2;
    int payloadBytes = 1024;
    int relayPid = 0;
};

std::uint64_t nowNs()
{
    return static_cast<std::uint64_t>(
        std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch()).count());
}

long rssKb(int pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
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

// Latencies in microseconds, 1 µs buckets up to 1 s, one overflow bucket.
struct Histogram {
    std::vector<std::uint64_t> buckets = std::vector<std::uint64_t>(1000001, 0);
    std::uint64_t count = 0;
    void add(std::uint64_t micros)
    {
        ++buckets[std::min<std::uint64_t>(micros, buckets.size() - 1)];
        ++count;
    }
    void merge(const Histogram& other)
    {
        for (std::size_t i = 0; i < buckets.size(); ++i)
            buckets[i] += other.buckets[i];
        count += other.count;
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

enum class Phase { Connecting, Paced, Gap, Saturation, Done };

struct Shared {
    Settings settings;
    std::atomic<Phase> phase { Phase::Connecting };
    std::atomic<int> failures { 0 };
};

class Worker;

// One end of a room. Agents write, controllers read; both read so pings are answered.
struct Connection {
    explicit Connection(net::io_context& io)
        : ws(io)
    {
    }
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer buffer;
    std::string outgoing; // the frame being written
    std::deque<std::uint64_t> pendingSends; // scheduled send times waiting for the writer
    bool writing = false;
    bool open = false;
};

struct RoomPair {
    std::unique_ptr<Connection> agent;
    std::unique_ptr<Connection> controller;
    int inFlight = 0;
};

class Worker {
public:
    Worker(Shared& shared, int firstRoom, int roomCount)
        : m_shared(shared)
        , m_first(firstRoom)
        , m_rooms(static_cast<std::size_t>(roomCount))
        , m_timer(m_io)
    {
        const Settings& s = shared.settings;
        // {"v":1,"kind":"msg","role":"agent","payload":"<16 hex ns><base64 filler>"}
        m_template = R"({"v":1,"kind":"msg","role":"agent","payload":")";
        m_stampOffset = m_template.size();
        static constexpr char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
        std::string payload(static_cast<std::size_t>(s.payloadBytes), 'A');
        unsigned state = 12345;
        for (auto& c : payload) {
            state = state * 1664525u + 1013904223u;
            c = alphabet[(state >> 24) % 64];
        }
        m_template += payload + "\"}";
    }

    net::io_context& io() { return m_io; }
    Histogram& pacedLatency() { return m_paced; }
    Histogram& saturationLatency() { return m_saturation; }
    std::uint64_t saturationReceived() const { return m_saturationReceived; }
    std::uint64_t pacedReceived() const { return m_pacedReceived; }
    std::uint64_t pacedSent() const { return m_pacedSent; }
    int connected() const { return m_connected; }

    void connectAll()
    {
        m_endpoint = tcp::endpoint(net::ip::make_address(m_shared.settings.host), m_shared.settings.port);
        for (int i = 0; i < 64 && m_nextToConnect < m_rooms.size() * 2; ++i)
            connectNext();
    }

    void startPaced(double threadRate)
    {
        m_threadRate = threadRate;
        m_pacedStart = Clock::now();
        tick();
    }

    void startSaturation()
    {
        m_timer.cancel();
        for (auto& room : m_rooms)
            for (int i = 0; i < m_shared.settings.window; ++i) {
                ++room.inFlight;
                queueSend(*room.agent, nowNs());
            }
    }

private:
    void connectNext()
    {
        const std::size_t index = m_nextToConnect++;
        RoomPair& room = m_rooms[index / 2];
        const bool isAgent = index % 2 == 0;
        auto& slot = isAgent ? room.agent : room.controller;
        slot = std::make_unique<Connection>(m_io);
        Connection& connection = *slot;
        char roomId[33];
        std::snprintf(roomId, sizeof roomId, "%032x", m_first + static_cast<int>(index / 2));
        const std::string target
            = std::string("/connect?room=") + roomId + "&role=" + (isAgent ? "agent" : "controller");
        connection.ws.next_layer().async_connect(
            m_endpoint, [this, &connection, target, &room, isAgent](beast::error_code error) {
                if (error)
                    return fail("connect", error);
                connection.ws.next_layer().set_option(tcp::no_delay(true));
                connection.ws.auto_fragment(false);
                connection.ws.async_handshake(
                    m_shared.settings.host, target, [this, &connection, &room, isAgent](beast::error_code e) {
                        if (e)
                            return fail("handshake", e);
                        connection.open = true;
                        ++m_connected;
                        readLoop(connection, room, isAgent);
                        if (m_nextToConnect < m_rooms.size() * 2)
                            connectNext();
                    });
            });
    }

    void fail(const char* what, beast::error_code error)
    {
        if (m_shared.failures.fetch_add(1) < 5)
            std::fprintf(stderr, "loadgen: %s failed: %s\n", what, error.message().c_str());
    }

    void readLoop(Connection& connection, RoomPair& room, bool isAgent)
    {
        connection.ws.async_read(
            connection.buffer, [this, &connection, &room, isAgent](beast::error_code error, std::size_t) {
                if (error) {
                    if (m_shared.phase.load() != Phase::Done)
                        fail("read", error);
                    return;
                }
                if (!isAgent)
                    handleReceived(connection, room);
                connection.buffer.clear();
                readLoop(connection, room, isAgent);
            });
    }

    void handleReceived(Connection& connection, RoomPair& room)
    {
        const auto data = connection.buffer.data();
        const std::string_view text(static_cast<const char*>(data.data()), data.size());
        if (text.size() < m_stampOffset + 16 || text.find(R"("kind":"msg")") == std::string_view::npos)
            return; // welcome, peerJoin, ...
        const std::uint64_t sentAt = std::strtoull(std::string(text.substr(m_stampOffset, 16)).c_str(), nullptr, 16);
        const std::uint64_t micros = (nowNs() - sentAt) / 1000;
        const Phase phase = m_shared.phase.load(std::memory_order_relaxed);
        if (phase == Phase::Paced) {
            m_paced.add(micros);
            ++m_pacedReceived;
        } else if (phase == Phase::Saturation) {
            m_saturation.add(micros);
            ++m_saturationReceived;
            --room.inFlight;
            ++room.inFlight;
            queueSend(*room.agent, nowNs());
        }
    }

    void tick()
    {
        if (m_shared.phase.load() != Phase::Paced)
            return;
        const double elapsed = std::chrono::duration<double>(Clock::now() - m_pacedStart).count();
        const auto due = static_cast<std::uint64_t>(elapsed * m_threadRate);
        const std::uint64_t baseNs = static_cast<std::uint64_t>(
            std::chrono::duration_cast<std::chrono::nanoseconds>(m_pacedStart.time_since_epoch()).count());
        while (m_pacedSent < due) {
            // The scheduled time of this message, not the moment the loop got to it.
            const auto scheduled
                = baseNs + static_cast<std::uint64_t>(static_cast<double>(m_pacedSent) / m_threadRate * 1e9);
            RoomPair& room = m_rooms[m_roundRobin++ % m_rooms.size()];
            queueSend(*room.agent, scheduled);
            ++m_pacedSent;
        }
        m_timer.expires_after(std::chrono::microseconds(500));
        m_timer.async_wait([this](beast::error_code error) {
            if (!error)
                tick();
        });
    }

    void queueSend(Connection& agent, std::uint64_t stamp)
    {
        agent.pendingSends.push_back(stamp);
        if (!agent.writing)
            writeNext(agent);
    }

    void writeNext(Connection& agent)
    {
        if (agent.pendingSends.empty() || !agent.open) {
            agent.writing = false;
            return;
        }
        agent.writing = true;
        agent.outgoing = m_template;
        char stamp[17];
        std::snprintf(stamp, sizeof stamp, "%016" PRIx64, agent.pendingSends.front());
        agent.pendingSends.pop_front();
        std::memcpy(agent.outgoing.data() + m_stampOffset, stamp, 16);
        agent.ws.async_write(net::buffer(agent.outgoing), [this, &agent](beast::error_code error, std::size_t) {
            if (error) {
                agent.writing = false;
                return fail("write", error);
            }
            writeNext(agent);
        });
    }

    Shared& m_shared;
    int m_first;
    net::io_context m_io { 1 };
    std::vector<RoomPair> m_rooms;
    net::steady_timer m_timer;
    tcp::endpoint m_endpoint;
    std::size_t m_nextToConnect = 0;
    int m_connected = 0;
    std::string m_template;
    std::size_t m_stampOffset = 0;
    double m_threadRate = 0;
    Clock::time_point m_pacedStart;
    std::uint64_t m_pacedSent = 0, m_pacedReceived = 0, m_saturationReceived = 0;
    std::size_t m_roundRobin = 0;
    Histogram m_paced, m_saturation;
};

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
            s.rooms = std::atoi(value);
        else if (flag == "--threads")
            s.threads = std::max(1, std::atoi(value));
        else if (flag == "--rate")
            s.rate = std::atof(value);
        else if (flag == "--paced-seconds")
            s.pacedSeconds = std::atof(value);
        else if (flag == "--saturation-seconds")
            s.saturationSeconds = std::atof(value);
        else if (flag == "--window")
            s.window = std::max(1, std::atoi(value));
        else if (flag == "--payload-bytes")
            s.payloadBytes = std::atoi(value);
        else if (flag == "--relay-pid")
            s.relayPid = std::atoi(value);
        else {
            std::fprintf(stderr, "loadgen: unknown option %s\n", flag.c_str());
            std::exit(2);
        }
    }
    return s;
}

} // namespace

int main(int argc, char** argv)
{
    Shared shared;
    shared.settings = parse(argc, argv);
    const Settings& s = shared.settings;
    raiseDescriptorLimit(static_cast<rlim_t>(s.rooms) * 2 + 256);

    const long rssIdle = s.relayPid ? rssKb(s.relayPid) : -1;
    std::vector<std::unique_ptr<Worker>> workers;
    const int perThread = (s.rooms + s.threads - 1) / s.threads;
    for (int t = 0, first = 1; first <= s.rooms; ++t, first += perThread)
        workers.push_back(std::make_unique<Worker>(shared, first, std::min(perThread, s.rooms - first + 1)));

    std::vector<std::thread> threads;
    std::vector<std::unique_ptr<net::executor_work_guard<net::io_context::executor_type>>> guards;
    for (auto& worker : workers) {
        guards.push_back(
            std::make_unique<net::executor_work_guard<net::io_context::executor_type>>(worker->io().get_executor()));
        net::post(worker->io(), [w = worker.get()] { w->connectAll(); });
        threads.emplace_back([w = worker.get()] { w->io().run(); });
    }

    auto onAll = [&](auto function) {
        for (auto& worker : workers)
            net::post(worker->io(), [w = worker.get(), function] { function(*w); });
    };
    auto sumConnected = [&] {
        int total = 0;
        for (auto& worker : workers) {
            std::atomic<int> value { -1 };
            net::post(worker->io(), [&] { value = worker->connected(); });
            while (value < 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            total += value;
        }
        return total;
    };

    const auto connectStart = Clock::now();
    while (sumConnected() < s.rooms * 2) {
        if (shared.failures > 0 || Clock::now() - connectStart > std::chrono::seconds(120)) {
            std::fprintf(stderr, "loadgen: only %d of %d connections opened\n", sumConnected(), s.rooms * 2);
            std::_Exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    const double connectSeconds = std::chrono::duration<double>(Clock::now() - connectStart).count();
    std::this_thread::sleep_for(std::chrono::milliseconds(500)); // let peerJoin traffic settle

    shared.phase = Phase::Paced;
    const double threadRate = s.rate / static_cast<double>(workers.size());
    onAll([threadRate](Worker& w) { w.startPaced(threadRate); });
    std::this_thread::sleep_for(std::chrono::duration<double>(s.pacedSeconds));
    shared.phase = Phase::Gap;
    std::this_thread::sleep_for(std::chrono::milliseconds(1000)); // the last paced messages arrive
    const long rssLoaded = s.relayPid ? rssKb(s.relayPid) : -1;

    shared.phase = Phase::Saturation;
    onAll([](Worker& w) { w.startSaturation(); });
    // Count only after a warm-up second.
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    std::vector<std::uint64_t> before;
    for (auto& worker : workers) {
        std::atomic<std::int64_t> value { -1 };
        net::post(worker->io(), [&] { value = static_cast<std::int64_t>(worker->saturationReceived()); });
        while (value < 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        before.push_back(static_cast<std::uint64_t>(value.load()));
    }
    const auto saturationStart = Clock::now();
    const double cpuBefore = s.relayPid ? cpuSeconds(s.relayPid) : -1;
    std::this_thread::sleep_for(std::chrono::duration<double>(s.saturationSeconds));
    shared.phase = Phase::Done;
    const double saturationElapsed = std::chrono::duration<double>(Clock::now() - saturationStart).count();
    const long rssSaturated = s.relayPid ? rssKb(s.relayPid) : -1;
    const double relayCpu = s.relayPid ? cpuSeconds(s.relayPid) - cpuBefore : -1;

    for (auto& worker : workers)
        net::post(worker->io(), [w = worker.get()] { w->io().stop(); });
    for (auto& thread : threads)
        thread.join();

    Histogram paced, saturation;
    std::uint64_t pacedSent = 0, pacedReceived = 0, saturationReceived = 0;
    for (std::size_t i = 0; i < workers.size(); ++i) {
        paced.merge(workers[i]->pacedLatency());
        saturation.merge(workers[i]->saturationLatency());
        pacedSent += workers[i]->pacedSent();
        pacedReceived += workers[i]->pacedReceived();
        saturationReceived += workers[i]->saturationReceived() - before[i];
    }
    const int connections = s.rooms * 2;
    std::printf("{\"rooms\":%d,\"connections\":%d,\"connect_seconds\":%.2f,"
                "\"paced\":{\"rate\":%.0f,\"sent\":%" PRIu64 ",\"received\":%" PRIu64
                ",\"p50_us\":%.0f,\"p99_us\":%.0f,\"max_us\":%.0f},"
                "\"saturation\":{\"msgs_per_s\":%.0f,\"p50_us\":%.0f,\"p99_us\":%.0f,\"relay_cpu_share\":%.2f,\"msgs_"
                "per_relay_cpu_s\":%.0f},"
                "\"rss_idle_kb\":%ld,\"rss_loaded_kb\":%ld,\"rss_saturated_kb\":%ld,\"rss_per_connection_bytes\":%.0f,"
                "\"failures\":%d}\n",
        s.rooms, connections, connectSeconds, s.rate, pacedSent, pacedReceived, paced.percentile(0.50),
        paced.percentile(0.99), paced.percentile(1.0), static_cast<double>(saturationReceived) / saturationElapsed,
        saturation.percentile(0.50), saturation.percentile(0.99), relayCpu / saturationElapsed,
        relayCpu > 0 ? static_cast<double>(saturationReceived) / relayCpu : -1.0, rssIdle, rssLoaded, rssSaturated,
        rssIdle >= 0 ? static_cast<double>(rssLoaded - rssIdle) * 1024.0 / connections : -1.0, shared.failures.load());
    std::fflush(stdout);
    std::_Exit(0);
}
