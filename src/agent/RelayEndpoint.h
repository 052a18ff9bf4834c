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
};

} // namespace Wardlamp
