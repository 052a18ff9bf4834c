#include "EnvelopeFactory.h"

#include "WireFrame.h"

#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

namespace Wardlamp {

namespace {

Frame build(std::string_view kind, std::optional<PeerRole> role, std::optional<bool> online)
{
    boost::json::object envelope;
    envelope["v"] = 1;
    envelope["kind"] = kind;
    if (role)
        envelope["role"] = peerRoleToString(*role);
    if (online)
        envelope["online"] = *online;
    return WireFrame::text(boost::json::serialize(envelope));
}

std::size_t index(PeerRole role)
{
    return role == PeerRole::agent ? 0 : 1;
}

} // namespace

Frame EnvelopeFactory::welcome(PeerRole receiver, bool online)
{
    static const Frame frames[2][2] = {
        { build("welcome", PeerRole::agent, false), build("welcome", PeerRole::agent, true) },
        { build("welcome", PeerRole::controller, false), build("welcome", PeerRole::controller, true) },
    };
    return frames[index(receiver)][online ? 1 : 0];
}

Frame EnvelopeFactory::peerJoin(PeerRole role)
{
    static const Frame frames[2]
        = { build("peerJoin", PeerRole::agent, {}), build("peerJoin", PeerRole::controller, {}) };
    return frames[index(role)];
}

Frame EnvelopeFactory::peerLeave(PeerRole role)
{
    static const Frame frames[2]
        = { build("peerLeave", PeerRole::agent, {}), build("peerLeave", PeerRole::controller, {}) };
    return frames[index(role)];
}

Frame EnvelopeFactory::pong()
{
    static const Frame frame = build("pong", {}, {});
    return frame;
}

} // namespace Wardlamp
