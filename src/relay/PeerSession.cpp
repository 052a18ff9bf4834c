#include "PeerSession.h"

#include "EnvelopeFactory.h"
#include "EnvelopeReader.h"
#include "RelayLog.h"
#include "Room.h"

#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/websocket.hpp>
#include <boost/beast/websocket/ssl.hpp>

#include <algorithm>
#include <type_traits>

namespace Wardlamp {

namespace beast = boost::beast;
namespace websocket = boost::beast::websocket;

namespace {
constexpr auto closeHandshakeTimeout = std::chrono::seconds(10);
// Compact the send queue's vector once this many written slots sit at its front.
constexpr std::size_t queueCompactThreshold = 64;
} // namespace

template <class Stream>
PeerSession<Stream>::PeerSession(
    Stream stream, ConnectionSlot slot, std::string address, PeerRole role, std::string room)
    : m_ws(std::move(stream))
    , m_slot(std::move(slot))
    , m_address(std::move(address))
    , m_roomId(std::move(room))
    , m_role(role)
{
}

template <class Stream> PeerSession<Stream>::~PeerSession() = default;

template <class Stream> void PeerSession<Stream>::start(Request request)
{
    const RelayOptions& options = m_slot.context().options;
    // The websocket stream runs its own timers; the TCP stream's would cut long-lived connections.
    if constexpr (!std::is_same_v<Stream, boost::asio::ip::tcp::socket>)
        beast::get_lowest_layer(m_ws).expires_never();
    // Beast's own idle timer would be re-armed on every message; the relay's idle sweep
    // (RelayServer) costs nothing per message. Beast keeps the handshake and close limits.
    websocket::stream_base::timeout timeout;
    timeout.handshake_timeout = closeHandshakeTimeout;
    timeout.idle_timeout = websocket::stream_base::none();
    timeout.keep_alive_pings = false;
    m_ws.set_option(timeout);
    m_lastActiveSweep = m_slot.context().idleSweep;
    // Pings, pongs and close frames count as activity (Beast answers pings itself).
    m_ws.control_callback(
        [this](websocket::frame_type, std::string_view) { m_lastActiveSweep = m_slot.context().idleSweep; });
    m_ws.set_option(websocket::stream_base::decorator(
        [](websocket::response_type& response) { response.set(beast::http::field::server, "wardlamp-relay"); }));
    m_ws.read_message_max(options.maxFrameBytes);
    m_ws.auto_fragment(false);
    m_ws.async_accept(request, beast::bind_front_handler(&PeerSession::handleAccept, this->shared_from_this()));
}

template <class Stream> void PeerSession<Stream>::handleAccept(beast::error_code error)
{
    if (error) {
        RelayLog::line("handshake-failed from=" + m_address + " error=" + error.message());
        return;
    }
    RelayContext& context = m_slot.context();
    if (context.shuttingDown) {
        close(websocket::close_code::going_away, "relay shutting down");
        readNext();
        return;
    }
    auto room = context.rooms.acquire(m_roomId);
    if (!room->join(this->shared_from_this())) {
        context.rooms.releaseIfEmpty(room);
        RelayLog::line(
            "reject room=" + std::string(RelayLog::shortRoom(m_roomId)) + " from=" + m_address + " reason=room-full");
        close(websocket::close_code::try_again_later, "room is full");
        readNext();
        return;
    }
    m_room = std::move(room);
    ++context.stats.peers;
    readNext();
}

template <class Stream> void PeerSession<Stream>::readNext()
{
    m_incoming.clear();
    m_incomingBuffer.emplace(m_incoming, m_slot.context().options.maxFrameBytes + 1);
    m_ws.async_read(*m_incomingBuffer,
        [self = this->shared_from_this()](beast::error_code error, std::size_t) { self->handleRead(error); });
}

template <class Stream> void PeerSession<Stream>::handleRead(beast::error_code error)
{
    if (error) {
        // Closed by the peer, too large (Beast has sent 1009), bad UTF-8 or framing,
        // idle timeout, abort(): in every case the peer is gone.
        finish();
        return;
    }
    m_lastActiveSweep = m_slot.context().idleSweep;
    handleMessage();
    readNext();
}

template <class Stream> void PeerSession<Stream>::handleMessage()
{
    RelayContext& context = m_slot.context();
    // A binary frame is taken like a text one when it holds an envelope: JSON parsing
    // validates its UTF-8, so it can go on as a text frame with the same bytes.
    const auto facts = EnvelopeReader::read(m_incoming);
    if (!facts || !m_room) {
        ++context.stats.framesDropped;
        return;
    }
    if (facts->kind == "msg") {
        auto frame = std::make_shared<const std::string>(std::move(m_incoming));
        m_incoming = std::string();
        m_room->forward(*this, frame, facts->cache);
    } else if (facts->kind == "ping") {
        send(EnvelopeFactory::pong());
    } else {
        // "welcome", "peerJoin", ... are the relay's own; "register-device" has no push service here.
        ++context.stats.framesDropped;
    }
}

template <class Stream> bool PeerSession<Stream>::send(Frame frame)
{
    if (m_closing)
        return true; // going away: swallowed, not an overflow
    RelayContext& context = m_slot.context();
    if (m_queuedBytes + frame->size() > context.options.sendQueueBytes)
        return false;
    m_queuedBytes += frame->size();
    context.stats.peakQueuedBytes = std::max(context.stats.peakQueuedBytes, m_queuedBytes);
    m_queue.push_back(std::move(frame));
    if (!m_writing)
        writeNext();
    return true;
}

template <class Stream> void PeerSession<Stream>::writeNext()
{
    if (m_closing || m_queueHead == m_queue.size()) {
        m_queue.clear();
        m_queueHead = 0;
        m_queuedBytes = 0;
        m_writing = false;
        return;
    }
    if (m_queueHead >= queueCompactThreshold && m_queueHead * 2 >= m_queue.size()) {
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(m_queueHead));
        m_queueHead = 0;
    }
    m_writing = true;
    const Frame& frame = m_queue[m_queueHead];
    m_ws.text(true);
    m_ws.async_write(boost::asio::buffer(*frame),
        [self = this->shared_from_this()](beast::error_code error, std::size_t) { self->handleWrite(error); });
}

template <class Stream> void PeerSession<Stream>::handleWrite(beast::error_code error)
{
    if (m_queueHead < m_queue.size()) {
        m_queuedBytes -= m_queue[m_queueHead]->size();
        m_queue[m_queueHead].reset();
        ++m_queueHead;
    }
    if (error) {
        m_writing = false;
        abort();
        return;
    }
    writeNext();
}

template <class Stream> void PeerSession<Stream>::close(std::uint16_t code, std::string_view reason)
{
    if (m_closing)
        return;
    m_closing = true;
    // Beast runs the close after a write in progress; queued frames go unsent.
    websocket::close_reason closeReason(static_cast<websocket::close_code>(code), reason.substr(0, 120));
    m_ws.async_close(closeReason, [self = this->shared_from_this()](beast::error_code) {});
}

template <class Stream> void PeerSession<Stream>::abort()
{
    m_closing = true;
    beast::error_code ignored;
    auto& socket = [this]() -> boost::asio::ip::tcp::socket& {
        if constexpr (std::is_same_v<Stream, boost::asio::ip::tcp::socket>)
            return m_ws.next_layer();
        else
            return beast::get_lowest_layer(m_ws).socket();
    }();
    socket.shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
}

template <class Stream> void PeerSession<Stream>::checkIdle(std::uint64_t sweep)
{
    if (m_closing)
        return;
    const std::uint64_t silent = sweep - m_lastActiveSweep;
    if (silent >= 4) {
        RelayLog::line("idle-timeout room=" + std::string(RelayLog::shortRoom(m_roomId))
            + " role=" + std::string(toString(m_role)) + " from=" + m_address);
        abort();
    } else if (silent >= 2 && !m_pinging) {
        m_pinging = true;
        m_ws.async_ping({}, [self = this->shared_from_this()](beast::error_code) { self->m_pinging = false; });
    }
}

template <class Stream> void PeerSession<Stream>::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_closing = true;
    if (m_room) {
        RelayContext& context = m_slot.context();
        --context.stats.peers;
        auto room = std::move(m_room);
        room->leave(*this);
        context.rooms.releaseIfEmpty(room);
    }
}

template class PeerSession<boost::asio::ip::tcp::socket>;
template class PeerSession<beast::ssl_stream<beast::tcp_stream>>;

} // namespace Wardlamp
