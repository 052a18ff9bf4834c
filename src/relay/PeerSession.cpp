#include "PeerSession.h"

#include "EnvelopeFactory.h"
#include "EnvelopeReader.h"
#include "RelayLog.h"
#include "Room.h"
#include "WireFrame.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <array>
#include <span>

namespace Wardlamp {

namespace net = boost::asio;
namespace beast = boost::beast;

namespace {
constexpr auto closeHandshakeTimeout = std::chrono::seconds(10);
// Compact the send queue's vector once this many written slots sit at its front.
constexpr std::size_t queueCompactThreshold = 64;
// A queue vector larger than this is given back when it runs empty.
constexpr std::size_t idleQueueCapacity = 8;
// Frames per gathered write (the kernel takes up to 1024, Asio passes 64).
constexpr std::size_t framesPerWrite = 64;
// Reads of the shared buffer per readiness before the connection waits its turn again.
constexpr int readsPerTurn = 4;
constexpr std::size_t tlsReadBytes = 16 * 1024;
constexpr std::uint16_t closeGoingAway = 1001;
constexpr std::uint16_t closeTryAgainLater = 1013;
constexpr std::uint16_t closePolicyViolation = 1008;
// A queued frame's shared allocation and queue slot, measured on 64-bit glibc.
constexpr std::size_t queuedFrameOverhead = 64;

// What a queued frame holds in memory: for the smallest (a 2-byte pong) mostly the
// overhead, so the queue limit bounds memory, not only bytes on the wire.
std::size_t queuedCost(const Frame& frame)
{
    return frame->size() + queuedFrameOverhead;
}

bool wouldBlock(const beast::error_code& error)
{
    return error == net::error::would_block || error == net::error::try_again;
}

// Writes what every peer queued during the handlers that ran before this one.
void flushAll(RelayContext& context)
{
    context.flushPosted = false;
    std::swap(context.pendingFlushes, context.flushing);
    for (const auto& peer : context.flushing)
        peer->flush();
    context.flushing.clear();
}
} // namespace

template <class Stream>
PeerSession<Stream>::PeerSession(
    Stream stream, ConnectionSlot slot, std::string address, PeerRole role, std::string room)
    : m_stream(std::move(stream))
    , m_slot(std::move(slot))
    , m_address(std::move(address))
    , m_roomId(std::move(room))
    , m_role(role)
    , m_reader(m_slot.context().options.maxFrameBytes, &m_slot.context().messageBudget)
{
}

template <class Stream> PeerSession<Stream>::~PeerSession()
{
    forgetDeadline();
}

template <class Stream> net::ip::tcp::socket& PeerSession<Stream>::socket()
{
    if constexpr (isPlain)
        return m_stream;
    else
        return beast::get_lowest_layer(m_stream).socket();
}

template <class Stream> const std::string& PeerSession<Stream>::roomId() const
{
    return m_room ? m_room->id() : m_roomId;
}

template <class Stream> void PeerSession<Stream>::start(std::string handshake, std::string_view early)
{
    beast::error_code ignored;
    if constexpr (isPlain) {
        m_stream.non_blocking(true, ignored);
    } else {
        // The TCP stream's own timers would cut long-lived connections.
        beast::get_lowest_layer(m_stream).expires_never();
        m_tlsBuffer = std::make_unique<char[]>(tlsReadBytes);
    }
    m_lastActiveSweep = m_slot.context().idleSweep;
    queue(std::make_shared<const std::string>(std::move(handshake)));
    join();
    if (!early.empty())
        consume(early);
    if (!socket().is_open())
        finish();
    else if (isPlain || m_readingFrames)
        readNext();
    else
        shutdownTls(); // a close frame came with the upgrade request: the shutdown does the reading
}

template <class Stream> void PeerSession<Stream>::join()
{
    RelayContext& context = m_slot.context();
    if (context.shuttingDown) {
        close(closeGoingAway, "relay shutting down");
        return;
    }
    auto room = context.rooms.acquire(m_roomId);
    if (!room->join(this->shared_from_this())) {
        context.rooms.releaseIfEmpty(room);
        RelayLog::line(
            "reject room=" + std::string(RelayLog::shortRoom(m_roomId)) + " from=" + m_address + " reason=room-full");
        close(closeTryAgainLater, "room is full");
        return;
    }
    m_room = std::move(room);
    std::string().swap(m_roomId); // the room keeps the identifier
    ++context.stats.peers;
}

template <class Stream> void PeerSession<Stream>::readNext()
{
    if constexpr (isPlain) {
        m_stream.async_wait(net::socket_base::wait_read,
            [self = this->shared_from_this()](beast::error_code error) { self->handleReadable(error); });
    } else {
        m_tlsReadPending = true;
        m_stream.async_read_some(net::buffer(m_tlsBuffer.get(), tlsReadBytes),
            [self = this->shared_from_this()](beast::error_code error, std::size_t bytes) {
                self->m_tlsReadPending = false;
                self->handleTlsRead(error, bytes);
            });
    }
}

template <class Stream> void PeerSession<Stream>::handleReadable(beast::error_code error)
{
    if (error) {
        finish(); // aborted
        return;
    }
    std::vector<char>& buffer = m_slot.context().readBuffer;
    for (int round = 0; round < readsPerTurn; ++round) {
        beast::error_code readError;
        const std::size_t bytes = m_stream.read_some(net::buffer(buffer), readError);
        if (wouldBlock(readError))
            break;
        if (readError) {
            // Closed by the peer, reset, or aborted. Our end closes too: a write waiting
            // on a peer that no longer reads would otherwise hold the connection for good.
            abort();
            finish();
            return;
        }
        consume(std::string_view(buffer.data(), bytes));
        if (!socket().is_open()) {
            finish();
            return;
        }
        // A short read emptied the socket; the next arrival wakes the wait again.
        if (bytes < buffer.size())
            break;
    }
    readNext();
}

template <class Stream> void PeerSession<Stream>::handleTlsRead(beast::error_code error, std::size_t bytes)
{
    if (error) {
        abort(); // as on a plain connection: a pending write must not outlive the peer
        finish();
        return;
    }
    consume(std::string_view(m_tlsBuffer.get(), bytes));
    if (!socket().is_open()) {
        finish();
        return;
    }
    if (!m_readingFrames) {
        // The close frame is in: no more reads, so the TLS shutdown can read the peer's end.
        shutdownTls();
        return;
    }
    readNext();
}

template <class Stream> void PeerSession<Stream>::consume(std::string_view bytes)
{
    if (!bytes.empty()) {
        // Any bytes count as activity: frames, pings, pongs and close frames alike.
        m_lastActiveSweep = m_slot.context().idleSweep;
        m_pinging = false;
    }
    while (!bytes.empty() && m_readingFrames) {
        const FrameReader::Step step = m_reader.next(bytes);
        bytes.remove_prefix(step.consumed);
        switch (step.event) {
        case FrameReader::Event::none:
        case FrameReader::Event::pong:
            break;
        case FrameReader::Event::message:
            handleMessage(m_reader.takeMessage());
            break;
        case FrameReader::Event::ping:
            if (!m_closing)
                send(WireFrame::pong(m_reader.controlPayload()));
            break;
        case FrameReader::Event::close:
            // The peer's half of the closing handshake: answer with its code unless
            // ours went first, then wait for the peer to close the connection.
            stopReading(m_reader.closeCode());
            if (!m_closing)
                startClosing(WireFrame::close(m_reader.closeCode(), {}));
            finish();
            break;
        case FrameReader::Event::failed:
            // Too large or past the budget (1009), not UTF-8 (1007) or broken framing (1002).
            stopReading(m_reader.failureCode());
            if (m_reader.failedForBudget()) {
                ++m_slot.context().stats.overBudgetClosed;
                RelayLog::line("over-budget room=" + std::string(RelayLog::shortRoom(roomId()))
                    + " role=" + std::string(peerRoleToString(m_role)) + " from=" + m_address);
            }
            if (!m_closing)
                startClosing(WireFrame::close(m_reader.failureCode(), {}));
            finish();
            break;
        }
        if (m_messageDeadline && step.event != FrameReader::Event::none && !m_reader.hasUnfinishedMessage())
            forgetDeadline();
    }
    // A message left unfinished by this read must be done within the timeout of now.
    if (m_readingFrames && !m_messageDeadline && m_reader.hasUnfinishedMessage())
        m_messageDeadline = m_slot.context().messageDeadlines.add(*this);
}

template <class Stream> void PeerSession<Stream>::stopReading(std::uint16_t code)
{
    m_readingFrames = false;
    m_reader.abandon(code); // frees a message still being assembled
    forgetDeadline();
}

template <class Stream> void PeerSession<Stream>::forgetDeadline()
{
    if (m_messageDeadline) {
        m_slot.context().messageDeadlines.remove(*m_messageDeadline);
        m_messageDeadline.reset();
    }
}

template <class Stream> void PeerSession<Stream>::messageTimedOut()
{
    m_messageDeadline.reset(); // the list has dropped it
    if (!m_readingFrames)
        return;
    ++m_slot.context().stats.slowMessagesClosed;
    RelayLog::line("message-timeout room=" + std::string(RelayLog::shortRoom(roomId()))
        + " role=" + std::string(peerRoleToString(m_role)) + " from=" + m_address);
    stopReading(closePolicyViolation);
    if (!m_closing)
        startClosing(WireFrame::close(closePolicyViolation, "message took too long"));
    finish();
    // Over TLS a read is pending; its completion starts the shutdown once the close frame is out.
}

template <class Stream> void PeerSession<Stream>::handleMessage(std::string frame)
{
    RelayContext& context = m_slot.context();
    if (m_closing)
        return;
    // A binary message is taken like a text one when it holds an envelope: JSON parsing
    // validates its UTF-8, so it goes on as a text frame with the same payload.
    const auto facts = EnvelopeReader::read(WireFrame::payload(frame));
    if (!facts || !m_room) {
        ++context.stats.framesDropped;
        return;
    }
    if (facts->kind == "msg") {
        m_room->forward(*this, std::make_shared<const std::string>(std::move(frame)), facts->cache);
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
    const std::size_t limit = m_slot.context().options.sendQueueBytes;
    // The limit is on what the kernel would not take: hand it the queue before refusing.
    if (m_queuedBytes + queuedCost(frame) > limit && !m_writing)
        writeQueued();
    // An empty queue takes any one frame: the largest message's frame is its payload
    // plus a header, which a queue limit as large as that payload leaves no room for.
    if (m_queuedBytes > 0 && m_queuedBytes + queuedCost(frame) > limit)
        return false;
    queue(std::move(frame));
    return true;
}

template <class Stream> void PeerSession<Stream>::queue(Frame frame)
{
    RelayContext& context = m_slot.context();
    m_queuedBytes += queuedCost(frame);
    context.stats.peakQueuedBytes = std::max(context.stats.peakQueuedBytes, m_queuedBytes);
    m_queue.push_back(std::move(frame));
    scheduleFlush();
}

template <class Stream> void PeerSession<Stream>::scheduleFlush()
{
    if (m_flushPending || m_writing)
        return; // the flush list or the write in progress will get to it
    m_flushPending = true;
    RelayContext& context = m_slot.context();
    context.pendingFlushes.push_back(this->shared_from_this());
    if (!context.flushPosted) {
        context.flushPosted = true;
        net::post(socket().get_executor(), [context = m_slot.shared()] { flushAll(*context); });
    }
}

template <class Stream> void PeerSession<Stream>::flush()
{
    m_flushPending = false;
    if (!m_writing)
        writeQueued();
}

template <class Stream> void PeerSession<Stream>::writeQueued()
{
    for (;;) {
        if (!socket().is_open()) {
            resetQueue();
            return;
        }
        if (m_queueHead == m_queue.size()) {
            resetQueue();
            if (m_closeQueued && !m_sendShutDown) {
                // The close frame is out: the peer reads its end of the stream after it.
                if constexpr (isPlain) {
                    m_sendShutDown = true;
                    beast::error_code ignored;
                    socket().shutdown(net::socket_base::shutdown_send, ignored);
                } else {
                    m_closeSent = true;
                    shutdownTls();
                }
            }
            return;
        }
        if (m_queueHead >= queueCompactThreshold && m_queueHead * 2 >= m_queue.size()) {
            m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(m_queueHead));
            m_queueHead = 0;
        }
        std::array<net::const_buffer, framesPerWrite> buffers;
        std::size_t count = 0;
        std::size_t total = 0;
        for (std::size_t i = m_queueHead; i < m_queue.size() && count < framesPerWrite; ++i, ++count) {
            const std::string& frame = *m_queue[i];
            const std::size_t skip = i == m_queueHead ? m_headOffset : 0;
            buffers[count] = net::buffer(frame.data() + skip, frame.size() - skip);
            total += frame.size() - skip;
        }
        if constexpr (isPlain) {
            beast::error_code error;
            std::size_t written = m_stream.write_some(std::span(buffers.data(), count), error);
            if (wouldBlock(error)) {
                written = 0;
            } else if (error) {
                abort(); // the peer is gone; its read side finishes it
                return;
            }
            consumeWritten(written);
            if (written < total) {
                // The socket is full: go on when it drains.
                m_writing = true;
                m_stream.async_wait(
                    net::socket_base::wait_write, [self = this->shared_from_this()](beast::error_code waitError) {
                        self->m_writing = false;
                        if (!waitError)
                            self->writeQueued();
                    });
                return;
            }
        } else {
            m_writing = true;
            m_inFlight = count;
            net::async_write(m_stream, std::vector<net::const_buffer>(buffers.begin(), buffers.begin() + count),
                [self = this->shared_from_this()](beast::error_code error, std::size_t written) {
                    self->m_writing = false;
                    self->m_inFlight = 0;
                    if (error) {
                        self->abort();
                        return;
                    }
                    self->consumeWritten(written);
                    self->writeQueued();
                });
            return;
        }
    }
}

// TLS ends with close_notify, not a bare TCP shutdown, or the peer sees its stream
// truncated. The shutdown reads as well as writes, so it waits until both close
// frames have passed and neither a read nor a write is pending; then the socket closes.
template <class Stream> void PeerSession<Stream>::shutdownTls()
{
    if constexpr (!isPlain) {
        if (m_sendShutDown || !m_closeSent || m_readingFrames || m_tlsReadPending || !socket().is_open())
            return;
        m_sendShutDown = true;
        m_stream.async_shutdown([self = this->shared_from_this()](beast::error_code) { self->abort(); });
    }
}

template <class Stream> void PeerSession<Stream>::consumeWritten(std::size_t bytes)
{
    while (bytes > 0 && m_queueHead < m_queue.size()) {
        Frame& frame = m_queue[m_queueHead];
        const std::size_t left = frame->size() - m_headOffset;
        if (bytes < left) {
            m_headOffset += bytes;
            return;
        }
        bytes -= left;
        m_queuedBytes -= queuedCost(frame);
        frame.reset();
        ++m_queueHead;
        m_headOffset = 0;
        m_handshakeSent = true;
    }
}

template <class Stream> void PeerSession<Stream>::resetQueue()
{
    if (m_queue.capacity() > idleQueueCapacity)
        std::vector<Frame>().swap(m_queue);
    else
        m_queue.clear();
    m_queueHead = 0;
    m_headOffset = 0;
    m_queuedBytes = 0;
}

template <class Stream> void PeerSession<Stream>::close(std::uint16_t code, std::string_view reason)
{
    if (m_closing)
        return;
    startClosing(WireFrame::close(code, reason));
}

template <class Stream> void PeerSession<Stream>::startClosing(Frame closeFrame)
{
    m_closing = true;
    // Frames not begun are dropped; the one being written (and the 101 answer) go first.
    std::size_t keep = m_queueHead;
    if (m_headOffset > 0 || (!m_handshakeSent && keep < m_queue.size()))
        keep = m_queueHead + 1;
    keep = std::min(std::max(keep, m_queueHead + m_inFlight), m_queue.size());
    for (std::size_t i = keep; i < m_queue.size(); ++i)
        m_queuedBytes -= queuedCost(m_queue[i]);
    m_queue.resize(keep);
    m_closeQueued = true;
    queue(std::move(closeFrame));
    // A peer that never answers the close frame is dropped.
    m_closeTimer = std::make_unique<net::steady_timer>(socket().get_executor(), closeHandshakeTimeout);
    m_closeTimer->async_wait([weak = this->weak_from_this()](beast::error_code error) {
        if (error)
            return;
        if (auto self = weak.lock())
            self->abort();
    });
}

template <class Stream> void PeerSession<Stream>::abort()
{
    m_closing = true;
    beast::error_code ignored;
    socket().shutdown(net::socket_base::shutdown_both, ignored);
    socket().close(ignored);
}

template <class Stream> void PeerSession<Stream>::checkIdle(std::uint64_t sweep)
{
    if (m_closing)
        return;
    const std::uint64_t silent = sweep - m_lastActiveSweep;
    if (silent >= 4) {
        RelayLog::line("idle-timeout room=" + std::string(RelayLog::shortRoom(roomId()))
            + " role=" + std::string(peerRoleToString(m_role)) + " from=" + m_address);
        abort();
    } else if (silent >= 2 && !m_pinging) {
        m_pinging = true;
        queue(WireFrame::ping());
    }
}

template <class Stream> void PeerSession<Stream>::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_closing = true;
    if (m_readingFrames)
        stopReading(closeGoingAway); // the connection is over: nothing it was sending will come
    if (m_room) {
        RelayContext& context = m_slot.context();
        --context.stats.peers;
        auto room = std::move(m_room);
        m_roomId = room->id();
        room->leave(*this);
        context.rooms.releaseIfEmpty(room);
    }
}

template class PeerSession<net::ip::tcp::socket>;
template class PeerSession<beast::ssl_stream<beast::tcp_stream>>;

} // namespace Wardlamp
