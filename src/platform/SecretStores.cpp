#include "SecretStores.h"

#include "FileSecretStore.h"
#include "KeychainSecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QFileInfo>

namespace Wardlamp {

using namespace Qt::StringLiterals;

bool SecretStores::secretServiceRegistered(const QDBusConnection& bus)
{
    if (!bus.isConnected() || !bus.interface())
        return false;
    const QDBusReply<bool> reply = bus.interface()->isServiceRegistered(u"org.freedesktop.secrets"_s);
    return reply.isValid() && reply.value();
}

std::unique_ptr<SecretStore> SecretStores::open(std::chrono::milliseconds timeout)
{
    // Without an address or the standard socket, asking for the session bus may
    // autolaunch one (dbus-launch under X11), which in turn may activate a
    // keyring that prompts: use the file instead.
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const bool busThere = !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")
        || (!runtime.isEmpty() && QFileInfo::exists(runtime + u"/bus"_s));
    if (!busThere)
        return std::make_unique<FileSecretStore>(FileSecretStore::defaultPath());
    return open(QDBusConnection::sessionBus(), FileSecretStore::defaultPath(), timeout);
}

std::unique_ptr<SecretStore> SecretStores::open(
    const QDBusConnection& bus, const QString& fallbackPath, std::chrono::milliseconds timeout)
{
    if (secretServiceRegistered(bus)) {
        auto keychain = std::make_unique<KeychainSecretStore>(timeout);
        // A locked or unresponsive keyring answers nothing useful: do not
        // build on it.
        const auto probe = keychain->read(u"pairingSecret"_s);
        if (probe || probe.error() == SecretStoreError::notFound)
            return keychain;
    }
    return std::make_unique<FileSecretStore>(fallbackPath);
}

} // namespace Wardlamp
