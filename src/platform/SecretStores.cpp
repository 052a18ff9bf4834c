#include "SecretStores.h"

#include "FileSecretStore.h"
#include "KeychainSecretStore.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

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
