#include "EnvelopeFactory.h"

#include "WireFrame.h"

#include <boost/json/object.hpp>
#include <boost/json/serialize.hpp>

#include <cstdint>

namespace Wardlamp {

namespace {

Frame build(std::string_view kind, std::optional<PeerRole> role, std::optional<bool> online,
    std::optional<std::size_t> controllers = std::nullopt)
{
    boost::json::object envelope;
    envelope["v"] = 1;
    envelope["kind"] = kind;
    if (role)
        envelope["role"] = peerRoleToString(*role);
    if (online)
        envelope["online"] = *online;
    if (controllers)
        envelope["controllers"] = static_cast<std::uint64_t>(*controllers);
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

Frame EnvelopeFactory::agentWelcome(std::size_t controllers)
{
    static const Frame alone = build("welcome", PeerRole::agent, false, 0);
    if (controllers == 0)
        return alone;
    return build("welcome", PeerRole::agent, true, controllers);
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
