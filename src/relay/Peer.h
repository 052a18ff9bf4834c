#pragma once

#include "Frame.h"
#include "common/PeerRole.h"

#include <cstdint>
#include <string>

namespace Wardlamp {

// A joined WebSocket connection as a Room sees it. PeerSession implements it for
// plain and TLS streams. All calls happen on the relay's io thread; none of them
// calls back into the Room synchronously (a closed peer leaves later, from its own
// completion handler), so a Room may call them while walking its peer lists.
class Peer {
public:
    virtual ~Peer() = default;

    virtual PeerRole role() const = 0;
    // Address and port of the remote end, for log lines.
    virtual const std::string& address() const = 0;

    // Queues one frame, written at the next flush. False, and nothing queued, when the
    // frame would take the connection's queue past its limit.
    virtual bool send(Frame frame) = 0;
    // Writes what is queued (the relay's flush, after the handlers of one turn).
    virtual void flush() = 0;
    // Closing handshake with `code` after the frame being written; queued frames are discarded.
    virtual void close(std::uint16_t code, std::string_view reason) = 0;
    // Drops the TCP connection at once: for a peer that does not read what it is sent.
    virtual void abort() = 0;
    // Called by the idle sweep with its tick count: a peer silent for 2 ticks is
    // pinged, one silent for 4 is dropped.
    virtual void checkIdle(std::uint64_t sweep) = 0;
    // Called by MessageDeadlines (its entry already gone): the message being received
    // was not complete in time.
    virtual void messageTimedOut() = 0;
};

} // namespace Wardlamp
