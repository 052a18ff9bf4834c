#pragma once

#include <QLoggingCategory>

namespace Wardlamp {

// "wardlamp.remoteagent": connection state, pushes, announcements. Never a
// secret, a password or a key.
Q_DECLARE_LOGGING_CATEGORY(lcRemoteAgent)

} // namespace Wardlamp
