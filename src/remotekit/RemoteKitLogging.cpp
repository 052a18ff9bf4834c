#include "RemoteKitLogging.h"

namespace Wardlamp {

Q_LOGGING_CATEGORY(lcRemoteKit, "wardlamp.remotekit", QtInfoMsg)

} // namespace Wardlamp
