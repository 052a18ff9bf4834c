#pragma once

#include <optional>
#include <string_view>

namespace Wardlamp {

// The two roles a connection can take in a room: the desktop agent (one per room)
// and the controllers that watch and command it.
enum class PeerRole { agent, controller };

// The raw value on the wire and in the request: "agent" or "controller".
constexpr std::string_view toString(PeerRole role)
{
    return role == PeerRole::agent ? std::string_view("agent") : std::string_view("controller");
}

// Exact, case-sensitive match of a raw value; anything else is no role.
constexpr std::optional<PeerRole> peerRoleFromString(std::string_view text)
{
    if (text == "agent")
        return PeerRole::agent;
    if (text == "controller")
        return PeerRole::controller;
    return std::nullopt;
}

} // namespace Wardlamp
