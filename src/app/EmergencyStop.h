#pragma once

#include <chrono>

namespace Wardlamp {

// The last resort for ends that the event loop never sees. When the display
// goes away, Qt ends the process from inside the loop: exit(1) on X11, a fatal
// message (abort) on Wayland. Servers then still get their chance to clean up:
// SIGTERM to every child's tree, SIGKILL after the grace period, before the
// process goes (where they would otherwise die by SIGKILL, their parent-death
// signal).
//
// install() once, on the main thread, after the subreaper; disarm() once the
// orderly end has run. Process-wide by nature.
class EmergencyStop {
public:
    static void install(std::chrono::milliseconds grace);
    static void disarm();
    // Stops every child's tree now (blocking up to the grace); once.
    static void run(const char* why);
};

} // namespace Wardlamp
