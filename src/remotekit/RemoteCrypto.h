#pragma once

#include "ContentKey.h"
#include "RemoteCryptoError.h"
#include "SecretBytes.h"
#include "WireEnums.h"
#include "common/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QLatin1String>
#include <QString>

#include <optional>

namespace Wardlamp {

// Everything the relay protocol derives from the shared pairing secret and the
// optional password: the room identifier, the content key, notification tags;
// plus sealing (AES-256-GCM: 12-byte nonce | ciphertext | 16-byte tag, no
// associated data) and the secure random source. Stateless: every function may
// run on any thread at once. contentKey() with a password runs 200,000 PBKDF2
// rounds (a tenth of a second or more): call it from a worker thread.
class RemoteCrypto {
public:
    RemoteCrypto() = delete;

    static constexpr QLatin1String protocolSalt { "quillharbour" };
    static constexpr QLatin1String roomLabel { "room/v1" };
    static constexpr QLatin1String passwordSaltLabel { "pwsalt/v1" };
    static constexpr QLatin1String noPasswordLabel { "nopw/v1" };
    static constexpr QLatin1String contentLabel { "content/v1" };
    static constexpr QLatin1String notifyTagPrefix { "notify-tag/v1:" };
    static constexpr int pbkdf2Iterations = 200000;
    static constexpr qsizetype nonceSize = 12;
    static constexpr qsizetype tagSize = 16;
    static constexpr qsizetype sealOverhead = nonceSize + tagSize;

    // 32 lower-case hexadecimal characters; depends on the secret alone.
    // Empty only if the library fails, which does not happen short of memory
    // exhaustion.
    static QString roomId(const SecretBytes& secret);

    // An absent and an empty password are the same; any other text is used
    // exactly as given (UTF-8, no trimming). Nothing only if a primitive fails.
    static std::optional<ContentKey> contentKey(
        const SecretBytes& secret, const std::optional<QString>& password = std::nullopt);

    // 32 lower-case hexadecimal characters; empty only if the library fails.
    static QString notifyTag(NotifyKind kind, const ContentKey& key);

    static Expected<QByteArray, RemoteCryptoError> seal(QByteArrayView plaintext, const ContentKey& key);
    // incorrectSize below 28 bytes, authenticationFailure for a wrong key or any
    // altered byte. No plaintext is returned unless it is authentic.
    static Expected<QByteArray, RemoteCryptoError> open(QByteArrayView combined, const ContentKey& key);

    // `count` bytes from the operating system's secure source (OpenSSL's DRBG
    // seeded from getrandom); nothing for a negative count or a failing source.
    static std::optional<QByteArray> randomBytes(qsizetype count);
    // The same, straight into wiped-on-destruction storage, for secrets.
    static std::optional<SecretBytes> randomSecret(qsizetype count);

    // Two lower-case hexadecimal digits per byte, no separator.
    static QString hexString(QByteArrayView bytes);

    // The primitives, exposed for known-answer tests. Nothing if the library
    // refuses the parameters.
    static std::optional<QByteArray> hkdfSha256(
        QByteArrayView inputKey, QByteArrayView salt, QByteArrayView info, qsizetype length);
    static std::optional<QByteArray> hmacSha256(QByteArrayView key, QByteArrayView message);
};

} // namespace Wardlamp
