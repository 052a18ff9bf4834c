#pragma once

#include "ui/logic/Tone.h"
#include "ui/logic/TunnelLink.h"

#include <QString>

#include <optional>

namespace Wardlamp {

struct ServerConfig;
enum class ServerStatus;

// What the Start/Stop control of a server does when clicked.
enum class ServerAction { start, stop };

// Everything a server's row in the panel (and its entry in the tray menu)
// shows, decided from the configuration and the status alone.
struct ServerRowPresentation {
    QString title; // the name, or the command when the name is empty; on one line
    QString statusWord; // "running", "stopped" or "error"
    std::optional<TunnelLink> link; // shown instead of the status word when present
    Tone dotTone = Tone::secondary;
    Tone statusTone = Tone::secondary;
    ServerAction action = ServerAction::start;
    QString buttonText; // "Stop" while running, "Start" otherwise
    Tone buttonTone = Tone::running; // red Stop, green Start

    // For screen readers.
    QString accessibleName; // the title, or "Untitled server"
    QString accessibleDescription; // e.g. "running, tunnel https://api.example.com"
    QString buttonAccessibleName; // e.g. "Stop api"

    static ServerRowPresentation describe(const ServerConfig& server, ServerStatus status);

    // Stop while running; Start when stopped or in error (a start replaces a
    // process that is still alive after an error).
    static ServerAction actionFor(ServerStatus status);
    static QString statusWordOf(ServerStatus status);
    // The text on one line: line breaks and tabs become spaces, other control
    // characters go, so a multi-line command cannot break a row's layout.
    static QString singleLine(const QString& text);

    friend bool operator==(const ServerRowPresentation&, const ServerRowPresentation&) = default;
};

} // namespace Wardlamp
