#include "RemoteAgentLogging.h"

namespace Wardlamp {

// Info entries (one per push) are off unless QT_LOGGING_RULES asks for them.
Q_LOGGING_CATEGORY(lcRemoteAgent, "wardlamp.remoteagent", QtWarningMsg)

} // namespace Wardlamp
