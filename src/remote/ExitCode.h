#pragma once

namespace Wardlamp {

// What wardlamp-remote's exit status says. Listed in `wardlamp-remote --help`;
// keep the two in step.
enum class ExitCode {
    success = 0,
    commandFailed = 1, // the desktop answered the command with a failure
    usage = 2, // bad arguments, no pairing key or relay given, unreadable password file
    badKey = 3, // the pairing key does not parse
    relayUnreachable = 4, // no connection to the relay within the timeout
    desktopOffline = 5, // no agent in the room, or it did not answer within the timeout
    wrongPassword = 6, // messages arrive from the desktop but none opens
    unknownServer = 7, // no server, or more than one, matches the name or id given
    noAcknowledgement = 8, // the command was sent but not acknowledged within the timeout
    // Ended by a signal, after leaving the relay politely: 128 + the signal's number,
    // what a shell reports for a program the signal ended, so scripts can tell an
    // interrupted run from a finished one.
    interrupted = 130, // SIGINT (Ctrl-C)
    terminated = 143, // SIGTERM
};

inline int toInt(ExitCode code)
{
    return static_cast<int>(code);
}

} // namespace Wardlamp
