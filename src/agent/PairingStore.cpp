#include "PairingStore.h"

#include "EnvironmentValue.h"
#include "RemoteAgentLogging.h"
#include "platform/SecretStore.h"
#include "remotekit/RemoteCrypto.h"
#include "supervision/SettingsFlag.h"

#include <QProcessEnvironment>
#include <QSettings>
#include <QStringDecoder>
#include <QSysInfo>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// UTF-8 text, or the empty text for bytes that are not valid UTF-8.
QString passwordFromBytes(const QByteArray& bytes)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder(bytes);
    if (decoder.hasError())
        return QString();
    return text;
}

} // namespace

PairingStore::PairingStore(
    QSettings& settings, const QProcessEnvironment& environment, SecretStore& secrets, QObject* parent)
    : QObject(parent)
    , m_settings(settings)
    , m_secrets(secrets)
{
    // The environment is read once, here; later changes to it mean nothing.
    const QProcessEnvironment env = environment;

    m_enabled = readSettingsFlag(m_settings.value(enabledKey));
    const QVariant storedName = m_settings.value(macNameKey);
    m_macName = storedName.isValid() ? storedName.toString() : defaultMacName();

    std::optional<SecretBytes> fromEnvironment;
    if (env.contains(u"WL_REMOTE_SECRET"_s))
        fromEnvironment = EnvironmentValue::decodeHexSecret(env.value(u"WL_REMOTE_SECRET"_s));
    if (fromEnvironment) {
        m_secret = std::move(fromEnvironment);
        m_secretFromEnvironment = true;
        m_password = env.value(u"WL_REMOTE_PASSWORD"_s);
    } else {
        if (env.contains(u"WL_REMOTE_SECRET"_s))
            qCWarning(lcRemoteAgent, "WL_REMOTE_SECRET is not hexadecimal; using the stored pairing key");
        auto stored = m_secrets.read(QString(secretAccount));
        if (stored) {
            m_secret = SecretBytes(*stored);
            stored->fill('\0');
        }
        const auto storedPassword = m_secrets.read(QString(passwordAccount));
        if (storedPassword)
            m_password = passwordFromBytes(*storedPassword);
    }

    if (env.contains(u"WL_REMOTE_ENABLED"_s))
        setEnabled(EnvironmentValue::readBoolean(env.value(u"WL_REMOTE_ENABLED"_s)));
    if (env.contains(u"WL_REMOTE_MACNAME"_s))
        setMacName(env.value(u"WL_REMOTE_MACNAME"_s));
}

PairingStore::~PairingStore() = default;

QString PairingStore::defaultMacName()
{
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? u"My Mac"_s : host;
}

void PairingStore::setEnabled(bool enabled)
{
    m_enabled = enabled;
    m_settings.setValue(enabledKey, enabled);
    m_settings.sync();
    Q_EMIT enabledChanged(enabled);
}

void PairingStore::setMacName(const QString& name)
{
    m_macName = name;
    m_settings.setValue(macNameKey, name);
    m_settings.sync();
    Q_EMIT macNameChanged(name);
}

void PairingStore::setPassword(const QString& password)
{
    m_password = password;
    if (!m_secrets.write(QString(passwordAccount), password.toUtf8())) {
        qCWarning(lcRemoteAgent) << "could not store the password in" << m_secrets.describe();
        Q_EMIT storeFailed(QStringLiteral("the password (") + m_secrets.describe() + QStringLiteral(")"));
    }
    Q_EMIT passwordChanged(password);
}

void PairingStore::ensureSecret()
{
    if (!m_secret)
        createSecret();
}

void PairingStore::rotateSecret()
{
    createSecret();
}

void PairingStore::createSecret()
{
    auto fresh = RemoteCrypto::randomSecret(secretSize);
    if (!fresh) {
        qCCritical(lcRemoteAgent, "the secure random source failed; no pairing key was created");
        return;
    }
    QByteArray raw = fresh->revealBytes();
    if (!m_secrets.write(QString(secretAccount), raw)) {
        qCWarning(lcRemoteAgent) << "could not store the pairing key in" << m_secrets.describe();
        Q_EMIT storeFailed(QStringLiteral("the pairing key (") + m_secrets.describe() + QStringLiteral(")"));
    }
    raw.fill('\0');
    m_secret = std::move(fresh);
    m_secretFromEnvironment = false;
    Q_EMIT secretChanged();
}

std::optional<PairingCredential> PairingStore::credential() const
{
    if (!m_secret)
        return std::nullopt;
    PairingCredential credential;
    credential.v = 1;
    credential.name = m_macName;
    credential.secret = *m_secret;
    return credential;
}

std::optional<QString> PairingStore::pairingKey() const
{
    const auto current = credential();
    if (!current)
        return std::nullopt;
    return current->encoded();
}

std::optional<QrCode> PairingStore::qrCode() const
{
    const auto key = pairingKey();
    if (!key)
        return std::nullopt;
    return QrCode::encode(key->toUtf8());
}

} // namespace Wardlamp
