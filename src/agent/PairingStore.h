#pragma once

#include "platform/QrCode.h"
#include "remotekit/PairingCredential.h"
#include "remotekit/SecretBytes.h"

#include <QLatin1StringView>
#include <QObject>
#include <QString>

#include <optional>

class QProcessEnvironment;
class QSettings;

namespace Wardlamp {

class SecretStore;

// Everything that decides whether and how this computer takes part in remote
// access: the switch, the computer's name, the optional password and the pairing
// secret. The first two live in the settings, the last two in the secret store;
// every assignment is written through at once and then announced (subscribers
// read the new value).
//
// Start-up, in order: the environment is read once; enabled and name come from
// the settings; WL_REMOTE_SECRET (hexadecimal) with WL_REMOTE_PASSWORD replaces
// the stored secret and password for this process without touching the store
// (an undecodable value is ignored, and the password with it); then
// WL_REMOTE_ENABLED and WL_REMOTE_MACNAME are assigned like user edits, so they
// persist.
//
// Owner: the application object graph. Main thread. The settings and the secret
// store must outlive it.
class PairingStore : public QObject {
    Q_OBJECT

public:
    static constexpr QLatin1StringView enabledKey { "wardlamp.remote.enabled" };
    static constexpr QLatin1StringView macNameKey { "wardlamp.remote.macName" };
    static constexpr QLatin1StringView passwordAccount { "password" };
    static constexpr QLatin1StringView secretAccount { "pairingSecret" };
    static constexpr qsizetype secretSize = 32;

    PairingStore(
        QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets, QObject* parent = nullptr);
    ~PairingStore() override;

    bool isEnabled() const { return m_enabled; }
    QString macName() const { return m_macName; }
    QString password() const { return m_password; }
    const std::optional<SecretBytes>& secret() const { return m_secret; }
    // The secret came from WL_REMOTE_SECRET and is not in the store.
    bool secretFromEnvironment() const { return m_secretFromEnvironment; }

    void setEnabled(bool enabled);
    void setMacName(const QString& name);
    void setPassword(const QString& password);

    // Creates and stores a secret when there is none; otherwise nothing.
    void ensureSecret();
    // Always replaces the secret: stored first, then announced.
    void rotateSecret();

    // Version 1, the current name and secret; nothing without a secret.
    std::optional<PairingCredential> credential() const;
    // The pairing key text, or nothing without a secret.
    std::optional<QString> pairingKey() const;
    // The QR code (level M) of the pairing key text, or nothing.
    std::optional<QrCode> qrCode() const;

    // The name used when the settings hold none: the host name, else "My Mac".
    static QString defaultMacName();

Q_SIGNALS:
    void enabledChanged(bool enabled);
    void macNameChanged(const QString& name);
    void passwordChanged(const QString& password);
    void secretChanged();
    // The secret store did not take a write (locked or gone keyring): the
    // value is in use in this process but not kept. `what` names it ("the
    // password", "the pairing key") and the store.
    void storeFailed(const QString& what);

private:
    void createSecret();

    QSettings& m_settings;
    SecretStore& m_secrets;
    bool m_enabled = false;
    QString m_macName;
    QString m_password;
    std::optional<SecretBytes> m_secret;
    bool m_secretFromEnvironment = false;
};

} // namespace Wardlamp
