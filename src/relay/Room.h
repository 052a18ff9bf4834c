#pragma once

#include "Frame.h"
#include "common/PeerRole.h"

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace Wardlamp {

class Peer;
struct RelayStats;

// One room: at most one agent and a bounded number of controllers. Routes "msg"
// frames (controller → agent, agent → every controller), keeps the agent's latest
// "cache": true frame for controllers that join later, and tells each side when the
// other comes and goes. Owned by RoomRegistry; used on the io thread only.
class Room {
public:
    Room(std::string id, std::size_t maxControllers, RelayStats& stats);
    ~Room();
    Room(const Room&) = delete;
    Room& operator=(const Room&) = delete;

    const std::string& id() const { return m_id; }
    bool isEmpty() const { return !m_agent && m_controllers.empty(); }
    bool hasAgent() const { return m_agent != nullptr; }
    std::size_t controllerCount() const { return m_controllers.size(); }
    // Whether a peer of this role would be let in now (an agent always is: it replaces).
    bool canAdmit(PeerRole role) const;

    // False when the room has no place for it. An agent replaces the current one,
    // which is closed.
    bool join(const std::shared_ptr<Peer>& peer);
    // Does nothing for a peer that is not (or no longer) in the room.
    void leave(const Peer& peer);
    // A "msg" frame from `from`; `cache` is its "cache": true flag.
    void forward(const Peer& from, const Frame& frame, bool cache);
    // Closing handshake with every peer (shutdown).
    void closeAll(std::uint16_t code, std::string_view reason);
    // Forgets every peer without telling anyone (the relay is being torn down).
    void detachAll();
    void checkIdle(std::uint64_t sweep);

private:
    void deliver(const std::shared_ptr<Peer>& to, const Frame& frame);
    void logEvent(std::string_view event, const Peer& peer) const;

    std::string m_id;
    std::size_t m_maxControllers;
    RelayStats& m_stats;
    std::shared_ptr<Peer> m_agent;
    std::vector<std::shared_ptr<Peer>> m_controllers;
    Frame m_cached; // the agent's latest "cache": true frame
    std::string m_lastReplacement; // hosts of the last agent replacement logged
};

} // namespace Wardlamp
