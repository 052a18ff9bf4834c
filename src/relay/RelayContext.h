#pragma once

#include "MessageBudget.h"
#include "MessageDeadlines.h"
#include "RelayOptions.h"
#include "RelayStats.h"
#include "RoomRegistry.h"
#include "WebContent.h"

#include <boost/asio/ssl/context.hpp>

#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace Wardlamp {

class Peer;

// What every session of one relay shares: its options, counters, rooms and TLS
// context. Held by shared_ptr from each session, so a session that outlives the
// RelayServer (its handler still queued in the io_context) stays valid. io thread only.
struct RelayContext {
    RelayContext(RelayOptions relayOptions, boost::asio::any_io_executor executor)
        : options(std::move(relayOptions))
        , rooms(options.maxControllersPerRoom, stats)
        , messageBudget(options.unfinishedMessageBytes, stats)
        , messageDeadlines(std::move(executor), options.messageTimeout)
        , web(options.web == WebContent::Source::builtIn         ? WebContent::builtIn()
                  : options.web == WebContent::Source::directory ? WebContent::directory(options.webRoot)
                                                                 : WebContent::none())
    {
    }

    RelayOptions options;
    RelayStats stats;
    RoomRegistry rooms;
    MessageBudget messageBudget;
    MessageDeadlines messageDeadlines;
    WebContent web;
    std::optional<boost::asio::ssl::context> tls; // set when serving wss://
    bool shuttingDown = false;
    // Open TCP connections by client host (entries with none are removed).
    std::unordered_map<std::string, std::size_t> connectionsPerHost;
    std::uint64_t idleSweep = 0; // ticks of the idle sweep, every idleTimeout / 4

    // Every plain connection reads into this one buffer and parses what it got before
    // its handler returns, so a connection holds no read buffer of its own.
    std::vector<char> readBuffer = std::vector<char>(64 * 1024);
    // Peers with frames queued since the last flush. One posted handler writes them
    // after the handlers that queued them have run, so what a peer is sent in one turn
    // of the io_context goes out in one write.
    std::vector<std::shared_ptr<Peer>> pendingFlushes;
    std::vector<std::shared_ptr<Peer>> flushing;
    bool flushPosted = false;
};

} // namespace Wardlamp
