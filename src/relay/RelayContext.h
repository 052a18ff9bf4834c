#pragma once

#include "RelayOptions.h"
#include "RelayStats.h"
#include "RoomRegistry.h"

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <optional>

namespace Wardlamp {

// What every session of one relay shares: its options, counters, rooms and TLS
// context. Held by shared_ptr from each session, so a session that outlives the
// RelayServer (its handler still queued in the io_context) stays valid. io thread only.
struct RelayContext {
    explicit RelayContext(RelayOptions relayOptions)
        : options(std::move(relayOptions))
        , rooms(options.maxControllersPerRoom, stats)
    {
    }

    RelayOptions options;
    RelayStats stats;
    RoomRegistry rooms;
    std::optional<boost::asio::ssl::context> tls; // set when serving wss://
    bool shuttingDown = false;
    std::uint64_t idleSweep = 0; // ticks of the idle sweep, every idleTimeout / 4
};

} // namespace Wardlamp
