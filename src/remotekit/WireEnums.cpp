#include "WireEnums.h"

#include "WireEnums_p.h"

namespace Wardlamp {

namespace {
constexpr RawTable<PeerRole, 2> peerRoles { {
    { PeerRole::agent, "agent" },
    { PeerRole::controller, "controller" },
} };
constexpr RawTable<WireStatus, 3> wireStatuses { {
    { WireStatus::stopped, "stopped" },
    { WireStatus::running, "running" },
    { WireStatus::error, "error" },
} };
constexpr RawTable<CommandAction, 4> commandActions { {
    { CommandAction::start, "start" },
    { CommandAction::stop, "stop" },
    { CommandAction::restart, "restart" },
    { CommandAction::clearLogs, "clearLogs" },
} };
constexpr RawTable<NotifyKind, 3> notifyKinds { {
    { NotifyKind::error, "error" },
    { NotifyKind::crash, "crash" },
    { NotifyKind::restart, "restart" },
} };
} // namespace

QLatin1String rawValue(PeerRole role)
{
    return rawOf(peerRoles, role);
}
QLatin1String rawValue(WireStatus status)
{
    return rawOf(wireStatuses, status);
}
QLatin1String rawValue(CommandAction action)
{
    return rawOf(commandActions, action);
}
QLatin1String rawValue(NotifyKind kind)
{
    return rawOf(notifyKinds, kind);
}

template <> std::optional<PeerRole> fromRawValue<PeerRole>(QStringView raw)
{
    return caseOf(peerRoles, raw);
}
template <> std::optional<WireStatus> fromRawValue<WireStatus>(QStringView raw)
{
    return caseOf(wireStatuses, raw);
}
template <> std::optional<CommandAction> fromRawValue<CommandAction>(QStringView raw)
{
    return caseOf(commandActions, raw);
}
template <> std::optional<NotifyKind> fromRawValue<NotifyKind>(QStringView raw)
{
    return caseOf(notifyKinds, raw);
}

} // namespace Wardlamp
