#pragma once

#include <QLatin1StringView>
#include <QUrl>

#include <optional>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

// Where the agent finds its relay: WL_RELAY_URL, else the setting
// "wardlamp.remote.relayURL", else the address built in (WL_DEFAULT_RELAY_URL
// at configure time, possibly empty). Only ws:// and wss:// addresses with a
// host count; anything else is skipped with a warning.
class RelayEndpoint {
public:
    static constexpr QLatin1StringView environmentVariable { "WL_RELAY_URL" };
    static constexpr QLatin1StringView settingsKey { "wardlamp.remote.relayURL" };

    RelayEndpoint() = delete;

    static std::optional<QUrl> resolve(const QProcessEnvironment& environment, const QSettings& settings);
    static std::optional<QUrl> builtIn();
    // A usable relay address from user text, or nothing.
    static std::optional<QUrl> parse(const QString& text);
    // The web controller that this relay serves: the same host and folder over
    // https:// (http:// for a ws:// relay), no query, no fragment.
    static QUrl webPage(const QUrl& relay);
    // webPage() with the pairing key in the fragment ("#k=WL1...."), which a browser
    // never sends to the server.
    static QString webPairingLink(const QUrl& relay, const QString& pairingKey);
};

} // namespace Wardlamp
