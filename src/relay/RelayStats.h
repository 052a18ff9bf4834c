#pragma once

#include <cstddef>
#include <cstdint>

namespace Wardlamp {

// Counters of a running relay, read by tests and the benchmark. Updated on the io thread.
struct RelayStats {
    std::size_t connections = 0; // open TCP connections, any stage
    std::size_t peers = 0; // joined WebSocket connections
    std::size_t rooms = 0;
    std::uint64_t framesForwarded = 0; // one per frame per recipient
    std::uint64_t framesDropped = 0; // not envelopes, or the agent's queue was full
    std::uint64_t slowPeersDropped = 0; // controllers disconnected for a full queue
    std::size_t peakQueuedBytes = 0; // the largest send queue any connection ever held
    std::uint64_t perHostRejected = 0; // connections closed for --max-connections-per-ip
    // Closed because a message (1008) or the HTTP request before the upgrade was not
    // complete within --message-timeout of its first byte.
    std::uint64_t slowMessagesClosed = 0;
    std::uint64_t slowRequestsClosed = 0;
    // Closed with 1009: their unfinished message would have passed --unfinished-message-bytes.
    std::uint64_t overBudgetClosed = 0;
    std::size_t unfinishedMessageBytes = 0; // held now by all unfinished messages together
    std::size_t peakUnfinishedMessageBytes = 0;

    bool operator==(const RelayStats&) const = default;
};

} // namespace Wardlamp
