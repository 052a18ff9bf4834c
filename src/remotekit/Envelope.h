#pragma once

#include "WireEnums.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringList>

#include <optional>

namespace Wardlamp {

// The outer frame of the relay protocol, the only layer the relay reads. One
// envelope per WebSocket frame. JSON: "v" (integer) and "kind" required, every
// other field optional: left out when absent, null read as absent, unknown keys
// ignored. "v" is written as given and not checked on receipt.
struct Envelope {
    enum class Kind { welcome, peerJoin, peerLeave, msg, ping, pong, registerDevice };

    qint64 v = 1;
    Kind kind = Kind::msg;
    std::optional<PeerRole> role;
    std::optional<QString> payload;
    std::optional<bool> cache;
    std::optional<bool> online;
    std::optional<QString> deviceToken;
    std::optional<QStringList> tags;
    std::optional<QString> tag;
    std::optional<bool> notify;
    // "controllers", in the "welcome" our relay sends an agent: how many
    // controllers are in the room as it joins; each of them is also announced
    // by a "peerJoin" that follows at once. Other peers ignore the key; a value
    // that is not a non-negative integer reads as absent.
    std::optional<qint64> controllers;

    // The "msg" envelope that carries a sealed peer message: version 1, "cache"
    // true only when `cache` is set, "tag" with "notify" true only when a tag is
    // given.
    static Envelope message(
        PeerRole role, QString payload, bool cache = false, std::optional<QString> tag = std::nullopt);

    QByteArray encode() const;
    // Nothing for anything but one JSON object with valid "v" and "kind" and
    // well-typed optional fields; text and binary frames alike.
    static std::optional<Envelope> decode(QByteArrayView json);

    friend bool operator==(const Envelope&, const Envelope&) = default;
};

QLatin1String rawValue(Envelope::Kind kind);
template <> std::optional<Envelope::Kind> fromRawValue<Envelope::Kind>(QStringView raw);

} // namespace Wardlamp
