#include "PairingCredential.h"

#include "JsonReader_p.h"
#include "JsonWriter_p.h"
#include "RemoteCrypto.h"
#include "StrictBase64.h"
#include "WireCodec_p.h"

#include <openssl/crypto.h>

namespace Wardlamp {

namespace {
// Base64 text of secret bytes, wiped when it goes out of scope.
struct WipedText {
    QByteArray bytes;
    ~WipedText() { OPENSSL_cleanse(bytes.data(), std::size_t(bytes.size())); }
};
} // namespace

std::optional<PairingCredential> PairingCredential::generate(const QString& name)
{
    std::optional<SecretBytes> secret = RemoteCrypto::randomSecret(secretSize);
    if (!secret)
        return std::nullopt;
    return PairingCredential { 1, name, std::move(*secret) };
}

QString PairingCredential::encoded() const
{
    WipedText secretText { secret.revealBytes() };
    const QByteArray raw = secretText.bytes;
    secretText.bytes = secretText.bytes.toBase64();
    OPENSSL_cleanse(const_cast<char*>(raw.constData()), std::size_t(raw.size()));

    Json::Writer writer;
    writer.beginObject();
    writer.key(QLatin1String("v"));
    writer.integer(v);
    writer.key(QLatin1String("name"));
    writer.string(name);
    writer.key(QLatin1String("secret"));
    writer.string(QString::fromLatin1(secretText.bytes));
    writer.endObject();
    WipedText json { writer.finish().value_or(QByteArray()) };
    WipedText key { json.bytes.toBase64(QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals) };
    return prefix + QString::fromLatin1(key.bytes);
}

std::optional<PairingCredential> PairingCredential::parse(QStringView text)
{
    const QStringView trimmed = text.trimmed();
    if (!trimmed.startsWith(prefix))
        return std::nullopt;
    QString body = trimmed.mid(prefix.size()).toString();
    body.replace(QLatin1Char('-'), QLatin1Char('+')).replace(QLatin1Char('_'), QLatin1Char('/'));
    // A remainder of 1 gets three "=" and so stays invalid, as it must: no
    // base64 text has that length.
    const qsizetype remainder = body.size() % 4;
    if (remainder != 0)
        body.append(QString(4 - remainder, QLatin1Char('=')));
    const std::optional<QByteArray> json = decodeStrictBase64(body);
    if (!json)
        return std::nullopt;
    WipedText jsonBytes { *json };

    const std::optional<Json::Value> document = Json::parse(jsonBytes.bytes);
    if (!document || document->type != Json::Value::Type::object)
        return std::nullopt;
    PairingCredential credential;
    QString secretText;
    using namespace WireCodec;
    if (!readRequired(*document, QLatin1String("v"), asInt, credential.v)
        || !readRequired(*document, QLatin1String("name"), asString, credential.name)
        || !readRequired(*document, QLatin1String("secret"), asString, secretText))
        return std::nullopt;
    const std::optional<QByteArray> secret = decodeStrictBase64(QStringView(secretText));
    if (!secret)
        return std::nullopt;
    WipedText secretBytes { *secret };
    if (secretBytes.bytes.size() != secretSize)
        return std::nullopt;
    credential.secret = SecretBytes(secretBytes.bytes);
    return credential;
}

} // namespace Wardlamp
