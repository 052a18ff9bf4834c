#pragma once

#include "app/AppOptions.h"
#include "control/ControlPaths.h"
#include "control/SupervisorLock.h"

#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace Wardlamp {

// One Wardlamp per configuration, as a launch of the desktop app takes part in
// it. Either this launch takes the supervisor lock (shared with wardlampd) and
// becomes the app, or it hands its request to the app that runs ("show" the
// panel or a window, "quit") through that app's control socket and exits, or
// it refuses because wardlampd supervises the configuration. A lock left by a
// killed process never blocks (the kernel drops it).
//
// Runs before the QApplication exists: no display is needed to reach a
// running app. Blocking (bounded by the control client's timeouts).
class AppInstance {
public:
    using Say = std::function<void(const QString& line)>;

    // This launch supervises: the lock it holds and where its socket goes.
    struct Supervise {
        ControlPaths paths;
        SupervisorLock lock;
    };

    // Supervise, or the exit status to end with (after saying why on `say`).
    static std::variant<Supervise, int> claim(const AppOptions& options, const Say& say);

    // The request a launch hands to the running app: verb and surface.
    static QString verbFor(const AppOptions& options);
};

} // namespace Wardlamp
