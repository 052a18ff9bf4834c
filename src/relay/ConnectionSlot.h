#pragma once

#include "RelayContext.h"

#include <memory>

namespace Wardlamp {

// Counts one TCP connection for as long as it lives (moved from the HTTP stage to
// the WebSocket stage), so the connection limit sees every stage.
class ConnectionSlot {
public:
    explicit ConnectionSlot(std::shared_ptr<RelayContext> context)
        : m_context(std::move(context))
    {
        ++m_context->stats.connections;
    }
    ~ConnectionSlot()
    {
        if (m_context)
            --m_context->stats.connections;
    }
    ConnectionSlot(ConnectionSlot&& other) noexcept = default;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

    RelayContext& context() const { return *m_context; }
    const std::shared_ptr<RelayContext>& shared() const { return m_context; }

private:
    std::shared_ptr<RelayContext> m_context;
};

} // namespace Wardlamp
