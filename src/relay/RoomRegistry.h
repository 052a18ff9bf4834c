#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>

namespace Wardlamp {

class Room;
struct RelayStats;

// The rooms that have at least one peer, by identifier. A room is created by its
// first peer and forgotten when its last one leaves, so memory follows live
// connections, not every room ever named. io thread only.
class RoomRegistry {
public:
    RoomRegistry(std::size_t maxControllersPerRoom, RelayStats& stats);
    ~RoomRegistry();
    RoomRegistry(const RoomRegistry&) = delete;
    RoomRegistry& operator=(const RoomRegistry&) = delete;

    // The room, or nullptr when nobody is in it.
    std::shared_ptr<Room> find(const std::string& id) const;
    // The room, created empty when needed.
    std::shared_ptr<Room> acquire(const std::string& id);
    // Forgets `room` once nobody is in it.
    void releaseIfEmpty(const std::shared_ptr<Room>& room);

    void closeAll(std::uint16_t code, std::string_view reason);
    // Breaks every room ↔ peer reference (teardown without an io thread).
    void detachAll();
    void checkIdle(std::uint64_t sweep);

private:
    std::size_t m_maxControllers;
    RelayStats& m_stats;
    std::unordered_map<std::string, std::shared_ptr<Room>> m_rooms;
};

} // namespace Wardlamp
