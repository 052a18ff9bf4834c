#pragma once

#include "ConnectionSlot.h"
#include "Peer.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/ssl/ssl_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Wardlamp {

class Room;

// One WebSocket connection in one room, over a plain or a TLS stream (explicitly
// instantiated for both in PeerSession.cpp). Owns its stream; kept alive by its
// pending operations and by its Room's peer list. Reads one message at a time and
// hands envelopes to the Room; writes its queue of shared frames one at a time,
// refusing a frame that would take the queue past the configured byte limit.
// io thread only.
template <class Stream>
class PeerSession final : public Peer, public std::enable_shared_from_this<PeerSession<Stream>> {
public:
    using Request = boost::beast::http::request<boost::beast::http::empty_body>;

    PeerSession(Stream stream, ConnectionSlot slot, std::string address, PeerRole role, std::string room);
    ~PeerSession() override;

    // Completes the upgrade that `request` asked for, then joins the room.
    void start(Request request);

    PeerRole role() const override { return m_role; }
    const std::string& address() const override { return m_address; }
    bool send(Frame frame) override;
    void close(std::uint16_t code, std::string_view reason) override;
    void abort() override;
    void checkIdle(std::uint64_t sweep) override;

private:
    void handleAccept(boost::beast::error_code error);
    void readNext();
    void handleRead(boost::beast::error_code error);
    void handleMessage();
    void writeNext();
    void handleWrite(boost::beast::error_code error);
    void finish();

    boost::beast::websocket::stream<Stream> m_ws;
    ConnectionSlot m_slot;
    std::string m_address;
    std::string m_roomId;
    PeerRole m_role;
    std::shared_ptr<Room> m_room; // set once joined

    std::string m_incoming; // the message being read; becomes a Frame without a copy
    std::optional<boost::asio::dynamic_string_buffer<char, std::char_traits<char>, std::allocator<char>>>
        m_incomingBuffer;

    std::vector<Frame> m_queue; // frames from m_queueHead on are waiting or being written
    std::size_t m_queueHead = 0;
    std::size_t m_queuedBytes = 0;
    bool m_writing = false;
    bool m_closing = false; // close or abort requested: nothing more is sent
    bool m_finished = false;
    bool m_pinging = false;
    std::uint64_t m_lastActiveSweep = 0; // the idle sweep tick of the last frame received
};

// Plain peers drop the TCP stream's own timers: the idle sweep and Beast's handshake
// limits cover them, and every open connection is the smaller for it.
using PlainPeerSession = PeerSession<boost::asio::ip::tcp::socket>;
using TlsPeerSession = PeerSession<boost::beast::ssl_stream<boost::beast::tcp_stream>>;

} // namespace Wardlamp
