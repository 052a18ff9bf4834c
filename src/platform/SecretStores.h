#pragma once

#include "platform/SecretStore.h"

#include <chrono>
#include <memory>

class QDBusConnection;

namespace Wardlamp {

// Chooses where the pairing secret and password live: the Secret Service when
// it is registered on the session bus and answers a read in time, otherwise the
// user-only file (FileSecretStore::defaultPath()). Never triggers D-Bus
// activation of a keyring (which could raise a prompt nobody sees), and
// open() does not even connect to a session bus that is not already there.
class SecretStores {
public:
    static std::unique_ptr<SecretStore> open(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    static std::unique_ptr<SecretStore> open(
        const QDBusConnection& bus, const QString& fallbackPath, std::chrono::milliseconds timeout);

    // org.freedesktop.secrets currently has an owner on `bus`.
    static bool secretServiceRegistered(const QDBusConnection& bus);
};

} // namespace Wardlamp
