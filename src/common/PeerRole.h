#pragma once

#include <optional>
#include <string_view>

namespace Wardlamp {

// The role of a peer in a relay room: the desktop side is the agent (one per
// room), a phone or the command-line controller is a controller. Shared by the
// relay (no Qt) and the protocol library.
enum class PeerRole { agent, controller };

// The raw value on the wire and in the request: "agent" or "controller". (Not
// called toString: found by argument-dependent lookup, that name would be taken
// for QTest's hook for printing values.)
constexpr std::string_view peerRoleToString(PeerRole role)
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
