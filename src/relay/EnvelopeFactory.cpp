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
        envelope["role"] = toString(*role);
    if (online)
        envelope["online"] = *online;
    return WireFrame::text(boost::json::serialize(envelope));
}

std::size_t index(PeerRole role)
{
    return role == PeerRole::Agent ? 0 : 1;
}

} // namespace

Frame EnvelopeFactory::welcome(PeerRole receiver, bool online)
{
    static const Frame frames[2][2] = {
        { build("welcome", PeerRole::Agent, false), build("welcome", PeerRole::Agent, true) },
        { build("welcome", PeerRole::Controller, false), build("welcome", PeerRole::Controller, true) },
    };
    return frames[index(receiver)][online ? 1 : 0];
}

Frame EnvelopeFactory::peerJoin(PeerRole role)
{
    static const Frame frames[2]
        = { build("peerJoin", PeerRole::Agent, {}), build("peerJoin", PeerRole::Controller, {}) };
    return frames[index(role)];
}

Frame EnvelopeFactory::peerLeave(PeerRole role)
{
    static const Frame frames[2]
        = { build("peerLeave", PeerRole::Agent, {}), build("peerLeave", PeerRole::Controller, {}) };
    return frames[index(role)];
}

Frame EnvelopeFactory::pong()
{
    static const Frame frame = build("pong", {}, {});
    return frame;
}

} // namespace Wardlamp
