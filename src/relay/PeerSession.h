#pragma once

#include "ConnectionSlot.h"
#include "FrameReader.h"
#include "MessageDeadlines.h"
#include "Peer.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core/error.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

namespace Wardlamp {

class Room;

// One WebSocket connection in one room, over a plain or a TLS stream (explicitly
// instantiated for both in PeerSession.cpp), from the 101 answer on. Owns its
// stream; kept alive by its pending operations and by its Room's peer list.
//
// Reading: a plain connection waits for readability and then reads into the
// relay's one shared buffer, as much as has arrived, and FrameReader turns the bytes
// into messages; between messages it holds no buffer at all. Writing: frames queue
// as shared wire frames and the relay's flush writes all that one turn queued with
// one gathered write; a frame that would take the queue past the configured byte
// limit is refused. A message must be complete within the message timeout of its
// first byte (any bytes reset the idle sweep, so a peer trickling a byte now and
// then would otherwise hold its unfinished message for good). io thread only.
template <class Stream>
class PeerSession final : public Peer, public std::enable_shared_from_this<PeerSession<Stream>> {
public:
    PeerSession(Stream stream, ConnectionSlot slot, std::string address, PeerRole role, std::string room);
    ~PeerSession() override;

    // Sends `handshake` (the 101 answer), joins the room and reads frames, the first of
    // them from `early`: bytes the client sent right behind its upgrade request.
    void start(std::string handshake, std::string_view early);

    PeerRole role() const override { return m_role; }
    const std::string& address() const override { return m_address; }
    bool send(Frame frame) override;
    void flush() override;
    void close(std::uint16_t code, std::string_view reason) override;
    void abort() override;
    void checkIdle(std::uint64_t sweep) override;
    void messageTimedOut() override;

private:
    static constexpr bool isPlain = std::is_same_v<Stream, boost::asio::ip::tcp::socket>;

    boost::asio::ip::tcp::socket& socket();
    const std::string& roomId() const;
    void join();
    void readNext();
    void handleReadable(boost::beast::error_code error);
    void handleTlsRead(boost::beast::error_code error, std::size_t bytes);
    void consume(std::string_view bytes);
    void handleMessage(std::string frame);
    void stopReading(std::uint16_t code);
    void forgetDeadline();
    void queue(Frame frame);
    void scheduleFlush();
    void writeQueued();
    void consumeWritten(std::size_t bytes);
    void resetQueue();
    void startClosing(Frame closeFrame);
    void shutdownTls();
    void finish();

    Stream m_stream;
    ConnectionSlot m_slot;
    std::string m_address;
    std::string m_roomId; // until joined; then the room's own
    PeerRole m_role;
    std::shared_ptr<Room> m_room; // set once joined
    FrameReader m_reader;
    // While a message is unfinished: its place in the relay's deadline list.
    std::optional<MessageDeadlines::Ticket> m_messageDeadline;
    std::unique_ptr<char[]> m_tlsBuffer; // TLS only: decrypted bytes cannot wait in the socket

    std::vector<Frame> m_queue; // frames from m_queueHead on are waiting or being written
    std::size_t m_queueHead = 0;
    std::size_t m_headOffset = 0; // bytes of the head frame already written
    std::size_t m_queuedBytes = 0;
    std::size_t m_inFlight = 0; // frames of a TLS write in progress
    std::unique_ptr<boost::asio::steady_timer> m_closeTimer; // only while closing
    bool m_handshakeSent = false;
    bool m_flushPending = false; // in the relay's flush list
    bool m_writing = false; // waiting for the socket to take more (plain) or for a write (TLS)
    bool m_closing = false; // close or abort requested: nothing more is sent but the close frame
    bool m_closeQueued = false; // the close frame is queued: the send side shuts down after it
    bool m_sendShutDown = false;
    bool m_closeSent = false; // TLS only: the close frame is written
    bool m_tlsReadPending = false; // TLS only: the shutdown must not read beside it
    bool m_readingFrames = true; // false after a close frame or a broken frame: bytes are drained
    bool m_finished = false;
    bool m_pinging = false;
    std::uint64_t m_lastActiveSweep = 0; // the idle sweep tick of the last bytes received
};

// Plain peers sit on a bare TCP socket: the idle sweep and the close timer cover
// them, and every open connection is the smaller for it.
using PlainPeerSession = PeerSession<boost::asio::ip::tcp::socket>;
using TlsPeerSession = PeerSession<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

} // namespace Wardlamp
