#include "Room.h"

#include "EnvelopeFactory.h"
#include "Peer.h"
#include "RelayLog.h"
#include "RelayStats.h"

#include <algorithm>
#include <utility>

namespace Wardlamp {

namespace {
// Private-use close code: this agent connection was replaced by a newer one.
constexpr std::uint16_t closeReplaced = 4000;

// "ADDR:PORT" or "[ADDR]:PORT" without the port.
std::string_view host(std::string_view address)
{
    const auto colon = address.rfind(':');
    return colon == std::string_view::npos ? address : address.substr(0, colon);
}

// The two hosts in either order.
std::string hostPair(std::string_view a, std::string_view b)
{
    std::string_view first = host(a), second = host(b);
    if (second < first)
        std::swap(first, second);
    return std::string(first) + ' ' + std::string(second);
}
} // namespace

Room::Room(std::string id, std::size_t maxControllers, RelayStats& stats)
    : m_id(std::move(id))
    , m_maxControllers(maxControllers)
    , m_stats(stats)
{
}

Room::~Room() = default;

bool Room::canAdmit(PeerRole role) const
{
    return role == PeerRole::agent || m_controllers.size() < m_maxControllers;
}

bool Room::join(const std::shared_ptr<Peer>& peer)
{
    if (!canAdmit(peer->role()))
        return false;

    if (peer->role() == PeerRole::controller) {
        m_controllers.push_back(peer);
        logEvent("join", *peer);
        deliver(peer, EnvelopeFactory::welcome(PeerRole::controller, hasAgent()));
        if (m_cached)
            deliver(peer, m_cached);
        if (m_agent)
            deliver(m_agent, EnvelopeFactory::peerJoin(PeerRole::controller));
        return true;
    }

    if (auto previous = std::exchange(m_agent, peer)) {
        // Two computers with one pairing key take turns: one line for the pair,
        // not one per turn.
        std::string pair = hostPair(previous->address(), peer->address());
        if (pair != m_lastReplacement) {
            logEvent("replace", *previous);
            m_lastReplacement = std::move(pair);
        }
        previous->close(closeReplaced, "replaced by a newer agent connection");
        for (const auto& controller : m_controllers)
            deliver(controller, EnvelopeFactory::peerLeave(PeerRole::agent));
    }
    logEvent("join", *peer);
    deliver(peer, EnvelopeFactory::agentWelcome(m_controllers.size()));
    // An agent that reads only the shared vocabulary learns of controllers
    // through peerJoin alone, so one per controller already here, right after
    // the welcome whose count announces them.
    for (std::size_t i = 0; i < m_controllers.size(); ++i)
        deliver(peer, EnvelopeFactory::peerJoin(PeerRole::controller));
    for (const auto& controller : m_controllers)
        deliver(controller, EnvelopeFactory::peerJoin(PeerRole::agent));
    return true;
}

void Room::leave(const Peer& peer)
{
    if (m_agent.get() == &peer) {
        logEvent("leave", peer);
        m_agent.reset();
        for (const auto& controller : m_controllers)
            deliver(controller, EnvelopeFactory::peerLeave(PeerRole::agent));
        return;
    }
    const auto it = std::find_if(m_controllers.begin(), m_controllers.end(),
        [&peer](const std::shared_ptr<Peer>& controller) { return controller.get() == &peer; });
    if (it == m_controllers.end())
        return;
    logEvent("leave", peer);
    m_controllers.erase(it);
    if (m_agent)
        deliver(m_agent, EnvelopeFactory::peerLeave(PeerRole::controller));
}

void Room::forward(const Peer& from, const Frame& frame, bool cache)
{
    if (from.role() == PeerRole::controller) {
        if (m_agent)
            deliver(m_agent, frame);
        return;
    }
    if (m_agent.get() != &from)
        return; // a replaced agent's late frame
    if (cache)
        m_cached = frame;
    for (const auto& controller : m_controllers)
        deliver(controller, frame);
}

void Room::closeAll(std::uint16_t code, std::string_view reason)
{
    if (m_agent)
        m_agent->close(code, reason);
    for (const auto& controller : m_controllers)
        controller->close(code, reason);
}

void Room::detachAll()
{
    m_agent.reset();
    m_controllers.clear();
    m_cached.reset();
}

void Room::checkIdle(std::uint64_t sweep)
{
    // Copies: a peer dropped here leaves later, but keep the walk independent of that.
    if (auto agent = m_agent)
        agent->checkIdle(sweep);
    for (const auto& controller : std::vector<std::shared_ptr<Peer>>(m_controllers))
        controller->checkIdle(sweep);
}

void Room::deliver(const std::shared_ptr<Peer>& to, const Frame& frame)
{
    if (to->send(frame)) {
        ++m_stats.framesForwarded;
        return;
    }
    if (to->role() == PeerRole::agent) {
        // One flooding controller must not cut the room off from its agent: drop the frame.
        ++m_stats.framesDropped;
        return;
    }
    // A controller that does not keep up would hold the room's frames without bound:
    // disconnect it; it reconnects and gets the cached state.
    ++m_stats.slowPeersDropped;
    logEvent("drop-slow", *to);
    to->abort();
}

void Room::logEvent(std::string_view event, const Peer& peer) const
{
    std::string text(event);
    text.append(" room=").append(RelayLog::shortRoom(m_id));
    text.append(" role=").append(peerRoleToString(peer.role()));
    text.append(" from=").append(peer.address());
    text.append(" agent=").append(m_agent ? "yes" : "no");
    text.append(" controllers=").append(std::to_string(m_controllers.size()));
    RelayLog::line(text);
}

} // namespace Wardlamp
