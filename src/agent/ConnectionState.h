#pragma once

#include <QMetaType>
#include <QString>

namespace Wardlamp {

// What the remote agent's connection is doing, as the settings pane and
// wardlampd show it. Equal when the kinds are equal and, for `error`, the texts.
struct ConnectionState {
    enum class Kind { error, off, connecting, online, controllerConnected };

    Kind kind = Kind::off;
    QString errorText; // only for `error`

    static ConnectionState error(QString text) { return { Kind::error, std::move(text) }; }
    static ConnectionState off() { return { Kind::off, {} }; }
    static ConnectionState connecting() { return { Kind::connecting, {} }; }
    static ConnectionState online() { return { Kind::online, {} }; }
    static ConnectionState controllerConnected() { return { Kind::controllerConnected, {} }; }

    // A short English description ("Off", "Connecting…", "Online",
    // "Controller connected", or the error text).
    QString describe() const;

    friend bool operator==(const ConnectionState&, const ConnectionState&) = default;
};

} // namespace Wardlamp

Q_DECLARE_METATYPE(Wardlamp::ConnectionState)
