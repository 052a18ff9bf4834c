#pragma once

#include "RelayContext.h"

#include <memory>
#include <string>

namespace Wardlamp {

// Counts one TCP connection for as long as it lives (moved from the HTTP stage to
// the WebSocket stage), so the connection limit sees every stage.
class ConnectionSlot {
public:
    // `host`: the client's address without the port, counted per host as well.
    ConnectionSlot(std::shared_ptr<RelayContext> context, std::string host)
        : m_context(std::move(context))
        , m_host(std::move(host))
    {
        ++m_context->stats.connections;
        ++m_context->connectionsPerHost[m_host];
    }
    ~ConnectionSlot()
    {
        if (!m_context)
            return;
        --m_context->stats.connections;
        const auto it = m_context->connectionsPerHost.find(m_host);
        if (it != m_context->connectionsPerHost.end() && --it->second == 0)
            m_context->connectionsPerHost.erase(it);
    }
    ConnectionSlot(ConnectionSlot&& other) noexcept = default;
    ConnectionSlot& operator=(ConnectionSlot&&) = delete;
    ConnectionSlot(const ConnectionSlot&) = delete;
    ConnectionSlot& operator=(const ConnectionSlot&) = delete;

    RelayContext& context() const { return *m_context; }
    const std::shared_ptr<RelayContext>& shared() const { return m_context; }

private:
    std::shared_ptr<RelayContext> m_context;
    std::string m_host;
};

} // namespace Wardlamp
