#pragma once

namespace Wardlamp {

// Status of one supervised server.
// stopped: no process, or the last one ended in an orderly way.
// running: a process was launched and no error has been seen since.
// error:   the launch failed, the process crashed, or it printed an error line
//          (in that last case the process may still be alive).
enum class ServerStatus { stopped, running, error };

} // namespace Wardlamp
