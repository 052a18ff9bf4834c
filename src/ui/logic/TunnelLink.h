#pragma once

#include <QString>
#include <QUrl>

#include <optional>

namespace Wardlamp {

struct ServerConfig;

// The link a server's row shows for its tunnel host: the host as text, the
// https address it opens, and the tooltip "Open " + that address. A host that
// does not make a valid address has no link (the row shows its status word).
struct TunnelLink {
    QString text;
    QUrl url;
    QString tooltip;

    static std::optional<TunnelLink> of(const ServerConfig& server);

    friend bool operator==(const TunnelLink&, const TunnelLink&) = default;
};

} // namespace Wardlamp
