#pragma once

#include "common/PeerRole.h"

#include <QLatin1String>
#include <QStringView>

#include <array>
#include <optional>

namespace Wardlamp {

// The enumerations of the relay protocol that stand on their own (Envelope::Kind
// and PeerMessage::MessageType live with their records). On the wire each is a
// JSON string holding its raw value; rawValue() and fromRawValue<>() convert both
// ways, matching exactly and case-sensitively.

// A server's status on the wire.
enum class WireStatus { stopped, running, error };

// What a controller asks the agent to do with one server.
enum class CommandAction { start, stop, restart, clearLogs };

// The reason of an alert; selects the notification tag, never sent as a field.
enum class NotifyKind { error, crash, restart };

// Every NotifyKind, in declaration order.
inline constexpr std::array<NotifyKind, 3> allNotifyKinds { NotifyKind::error, NotifyKind::crash, NotifyKind::restart };

QLatin1String rawValue(PeerRole role);
QLatin1String rawValue(WireStatus status);
QLatin1String rawValue(CommandAction action);
QLatin1String rawValue(NotifyKind kind);

// The case whose raw value is exactly `raw`, or nothing. Specialised for every
// protocol enumeration.
template <typename Enum> std::optional<Enum> fromRawValue(QStringView raw);

template <> std::optional<PeerRole> fromRawValue<PeerRole>(QStringView raw);
template <> std::optional<WireStatus> fromRawValue<WireStatus>(QStringView raw);
template <> std::optional<CommandAction> fromRawValue<CommandAction>(QStringView raw);
template <> std::optional<NotifyKind> fromRawValue<NotifyKind>(QStringView raw);

} // namespace Wardlamp
