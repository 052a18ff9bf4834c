#include "FileSecretStore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QStandardPaths>

#include <optional>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr QFileDevice::Permissions ownerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

enum class LoadProblem { missing, unreadable };

struct Loaded {
    std::optional<QJsonObject> items;
    LoadProblem problem = LoadProblem::missing;
};

Loaded load(const QString& path)
{
    QFile file(path);
    if (!file.exists())
        return { QJsonObject(), LoadProblem::missing };
    if (!file.open(QIODevice::ReadOnly))
        return { std::nullopt, LoadProblem::unreadable };
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return { std::nullopt, LoadProblem::unreadable };
    return { document.object(), LoadProblem::missing };
}

} // namespace

FileSecretStore::FileSecretStore(QString path)
    : m_path(std::move(path))
{
}

QString FileSecretStore::defaultPath()
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || QDir::isRelativePath(base))
        base = QDir::homePath() + u"/.local/share"_s;
    return base + u"/wardlamp/secrets"_s;
}

Expected<QByteArray, SecretStoreError> FileSecretStore::read(const QString& account)
{
    const Loaded loaded = load(m_path);
    if (!loaded.items)
        return SecretStoreError::unavailable;
    const QJsonValue value = loaded.items->value(account);
    if (value.isUndefined() || value.isNull())
        return SecretStoreError::notFound;
    if (!value.isString())
        return SecretStoreError::unavailable;
    const auto decoded
        = QByteArray::fromBase64Encoding(value.toString().toLatin1(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return SecretStoreError::unavailable;
    return *decoded;
}

bool FileSecretStore::write(const QString& account, const QByteArray& data)
{
    const QFileInfo info(m_path);
    if (!QDir().mkpath(info.absolutePath()))
        return false;
    QFile::setPermissions(
        info.absolutePath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);

    Loaded loaded = load(m_path);
    QJsonObject items;
    if (loaded.items) {
        items = *loaded.items;
    } else {
        // Keep what we could not read instead of overwriting it.
        const QString aside = m_path + u".unreadable"_s;
        QFile::remove(aside);
        if (!QFile::rename(m_path, aside))
            return false;
    }
    items.insert(account, QString::fromLatin1(data.toBase64()));

    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    if (!file.setPermissions(ownerOnly))
        return false;
    file.write(QJsonDocument(items).toJson(QJsonDocument::Compact));
    return file.commit();
}

QString FileSecretStore::describe() const
{
    return m_path;
}

} // namespace Wardlamp
