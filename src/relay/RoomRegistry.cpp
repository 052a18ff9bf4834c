#include "RoomRegistry.h"

#include "RelayStats.h"
#include "Room.h"

namespace Wardlamp {

RoomRegistry::RoomRegistry(std::size_t maxControllersPerRoom, RelayStats& stats)
    : m_maxControllers(maxControllersPerRoom)
    , m_stats(stats)
{
}

RoomRegistry::~RoomRegistry()
{
    detachAll();
}

std::shared_ptr<Room> RoomRegistry::find(const std::string& id) const
{
    const auto it = m_rooms.find(id);
    return it == m_rooms.end() ? nullptr : it->second;
}

std::shared_ptr<Room> RoomRegistry::acquire(const std::string& id)
{
    auto& slot = m_rooms[id];
    if (!slot) {
        slot = std::make_shared<Room>(id, m_maxControllers, m_stats);
        m_stats.rooms = m_rooms.size();
    }
    return slot;
}

void RoomRegistry::releaseIfEmpty(const std::shared_ptr<Room>& room)
{
    if (!room || !room->isEmpty())
        return;
    const auto it = m_rooms.find(room->id());
    if (it != m_rooms.end() && it->second == room) {
        m_rooms.erase(it);
        m_stats.rooms = m_rooms.size();
    }
}

void RoomRegistry::closeAll(std::uint16_t code, std::string_view reason)
{
    for (const auto& [id, room] : m_rooms)
        room->closeAll(code, reason);
}

void RoomRegistry::checkIdle(std::uint64_t sweep)
{
    for (const auto& [id, room] : m_rooms)
        room->checkIdle(sweep);
}

void RoomRegistry::detachAll()
{
    for (const auto& [id, room] : m_rooms)
        room->detachAll();
    m_rooms.clear();
    m_stats.rooms = 0;
}

} // namespace Wardlamp
