#pragma once

#include <memory>
#include <string>

namespace Wardlamp {

// One WebSocket frame as it goes on the wire from the relay (header and unmasked
// payload, see WireFrame), immutable and shared by every send queue it sits in, so
// forwarding to many controllers copies a pointer, not the message.
using Frame = std::shared_ptr<const std::string>;

} // namespace Wardlamp
