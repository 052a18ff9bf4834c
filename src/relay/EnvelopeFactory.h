#pragma once

#include "Frame.h"
#include "common/PeerRole.h"

namespace Wardlamp {

// The envelopes the relay itself sends, as text frames. Each is built once and
// shared by every connection it goes to.
class EnvelopeFactory {
public:
    // {"v":1,"kind":"welcome","role":<the receiver's role>,"online":<the other side is present>}
    static Frame welcome(PeerRole receiver, bool online);
    // The welcome of an agent, with the controllers already in the room:
    // {"v":1,"kind":"welcome","role":"agent","online":<controllers > 0>,"controllers":<n>}.
    // One "peerJoin" per controller follows it (an agent that reads only the
    // shared vocabulary learns of them that way); an agent that reads the
    // count takes it as the truth and does not count those announcements again.
    static Frame agentWelcome(std::size_t controllers);
    // {"v":1,"kind":"peerJoin","role":<role of the peer that joined>}
    static Frame peerJoin(PeerRole role);
    static Frame peerLeave(PeerRole role);
    // {"v":1,"kind":"pong"}: the answer to a "ping" envelope.
    static Frame pong();
};

} // namespace Wardlamp
