#pragma once

#include <QLoggingCategory>

namespace Wardlamp {

// "wardlamp.remotekit": failures of the protocol library that callers cannot
// see otherwise. Never logs keys, secrets, passwords or plaintext.
Q_DECLARE_LOGGING_CATEGORY(lcRemoteKit)

} // namespace Wardlamp
