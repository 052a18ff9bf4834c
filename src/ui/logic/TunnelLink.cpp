#include "TunnelLink.h"

#include "supervision/ServerConfig.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

std::optional<TunnelLink> TunnelLink::of(const ServerConfig& server)
{
    const std::optional<QUrl> url = server.tunnelURL();
    if (!url)
        return std::nullopt;
    // The encoded forms: an international name shows as the ASCII (punycode)
    // host the browser will really ask for, so look-alike letters cannot pose
    // as another host.
    const QString address = url->toString(QUrl::FullyEncoded);
    const QString host = url->host(QUrl::FullyEncoded);
    return TunnelLink { host.isEmpty() ? address : host, *url, u"Open "_s + address };
}

} // namespace Wardlamp
