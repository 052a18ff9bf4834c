#include "RemoteCrypto.h"

#include "RemoteKitLogging.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

namespace Wardlamp {

namespace {

struct KdfDeleter {
    void operator()(EVP_KDF* kdf) const { EVP_KDF_free(kdf); }
    void operator()(EVP_KDF_CTX* ctx) const { EVP_KDF_CTX_free(ctx); }
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};

// Fetched once and shared: an implicit fetch on every seal costs more than
// sealing a short message. OpenSSL objects are safe to share between threads.
EVP_KDF* hkdfAlgorithm()
{
    static EVP_KDF* const kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
    return kdf;
}

EVP_CIPHER* gcmCipher()
{
    static EVP_CIPHER* const cipher = EVP_CIPHER_fetch(nullptr, "AES-256-GCM", nullptr);
    return cipher;
}

unsigned char* mutableBytes(QByteArrayView view)
{
    // OSSL_PARAM takes non-const pointers even for inputs it only reads.
    return const_cast<unsigned char*>(reinterpret_cast<const unsigned char*>(view.data()));
}

// HKDF-SHA256 (extract, then expand) into `out`.
bool hkdf(unsigned char* out, std::size_t length, QByteArrayView inputKey, QByteArrayView salt, QByteArrayView info)
{
    EVP_KDF* algorithm = hkdfAlgorithm();
    if (!algorithm)
        return false;
    std::unique_ptr<EVP_KDF_CTX, KdfDeleter> ctx(EVP_KDF_CTX_new(algorithm));
    if (!ctx)
        return false;
    // Empty inputs are valid (an empty secret, an empty salt); never hand
    // OpenSSL a null pointer for them, only a zero length.
    static unsigned char empty = 0;
    const auto pointer = [](QByteArrayView view) { return view.isEmpty() ? &empty : mutableBytes(view); };
    char digest[] = "SHA256";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest, 0),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, pointer(inputKey), std::size_t(inputKey.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SALT, pointer(salt), std::size_t(salt.size())),
        OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, pointer(info), std::size_t(info.size())),
        OSSL_PARAM_construct_end(),
    };
    return EVP_KDF_derive(ctx.get(), out, length, params) == 1;
}

QByteArrayView latin1Bytes(QLatin1String text)
{
    return QByteArrayView(text.data(), text.size());
}

// A QByteArray that is wiped when it goes out of scope, for intermediate keys.
class WipedBuffer {
public:
    explicit WipedBuffer(qsizetype size)
        : m_bytes(size, '\0')
    {
    }
    ~WipedBuffer() { OPENSSL_cleanse(m_bytes.data(), std::size_t(m_bytes.size())); }
    WipedBuffer(const WipedBuffer&) = delete;
    WipedBuffer& operator=(const WipedBuffer&) = delete;

    unsigned char* data() { return reinterpret_cast<unsigned char*>(m_bytes.data()); }
    QByteArrayView view() const { return m_bytes; }
    std::size_t size() const { return std::size_t(m_bytes.size()); }

private:
    QByteArray m_bytes;
};

// EVP update calls take an int length; feed larger inputs in pieces.
constexpr qsizetype maxChunk = qsizetype(1) << 30;

} // namespace

QString RemoteCrypto::hexString(QByteArrayView bytes)
{
    return QString::fromLatin1(bytes.toByteArray().toHex());
}

QString RemoteCrypto::roomId(const SecretBytes& secret)
{
    unsigned char bytes[16];
    if (!hkdf(bytes, sizeof bytes, secret.view(), latin1Bytes(protocolSalt), latin1Bytes(roomLabel))) {
        qCCritical(lcRemoteKit, "HKDF failed while deriving the room identifier");
        return {};
    }
    return hexString(QByteArrayView(bytes, sizeof bytes));
}

std::optional<ContentKey> RemoteCrypto::contentKey(const SecretBytes& secret, const std::optional<QString>& password)
{
    WipedBuffer stretched(32);
    if (password && !password->isEmpty()) {
        unsigned char passwordSalt[16];
        if (!hkdf(passwordSalt, sizeof passwordSalt, secret.view(), latin1Bytes(protocolSalt),
                latin1Bytes(passwordSaltLabel)))
            return std::nullopt;
        QByteArray utf8 = password->toUtf8();
        const int ok = PKCS5_PBKDF2_HMAC(utf8.constData(), int(utf8.size()), passwordSalt, sizeof passwordSalt,
            pbkdf2Iterations, EVP_sha256(), int(stretched.size()), stretched.data());
        OPENSSL_cleanse(utf8.data(), std::size_t(utf8.size()));
        if (ok != 1) {
            qCCritical(lcRemoteKit, "PBKDF2 failed while deriving the content key");
            return std::nullopt;
        }
    } else if (!hkdf(stretched.data(), stretched.size(), secret.view(), latin1Bytes(protocolSalt),
                   latin1Bytes(noPasswordLabel))) {
        qCCritical(lcRemoteKit, "HKDF failed while deriving the content key");
        return std::nullopt;
    }
    ContentKey key;
    if (!hkdf(key.m_bytes.data(), key.m_bytes.size(), secret.view(), stretched.view(), latin1Bytes(contentLabel))) {
        qCCritical(lcRemoteKit, "HKDF failed while deriving the content key");
        return std::nullopt;
    }
    return key;
}

QString RemoteCrypto::notifyTag(NotifyKind kind, const ContentKey& key)
{
    const QByteArray text = QByteArray(notifyTagPrefix.data(), notifyTagPrefix.size()) + rawValue(kind).latin1();
    const auto keyBytes = key.bytes();
    unsigned char mac[32];
    std::size_t macLength = 0;
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, keyBytes.data(), keyBytes.size(),
            reinterpret_cast<const unsigned char*>(text.constData()), std::size_t(text.size()), mac, sizeof mac,
            &macLength)
        || macLength != sizeof mac) {
        qCCritical(lcRemoteKit, "HMAC failed while deriving a notification tag");
        return {};
    }
    return hexString(QByteArrayView(mac, 16));
}

Expected<QByteArray, RemoteCryptoError> RemoteCrypto::seal(QByteArrayView plaintext, const ContentKey& key)
{
    EVP_CIPHER* cipher = gcmCipher();
    std::unique_ptr<EVP_CIPHER_CTX, KdfDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx)
        return RemoteCryptoError::sealFailed;

    QByteArray combined(plaintext.size() + sealOverhead, Qt::Uninitialized);
    auto* nonce = reinterpret_cast<unsigned char*>(combined.data());
    unsigned char* cipherText = nonce + nonceSize;
    // A fresh random nonce for every message: the key lives for a whole
    // connection and a repeated nonce would expose plaintext and the GHASH key.
    if (RAND_bytes(nonce, int(nonceSize)) != 1)
        return RemoteCryptoError::sealFailed;
    if (EVP_EncryptInit_ex2(ctx.get(), cipher, key.bytes().data(), nonce, nullptr) != 1)
        return RemoteCryptoError::sealFailed;

    const auto* in = reinterpret_cast<const unsigned char*>(plaintext.data());
    qsizetype done = 0;
    while (done < plaintext.size()) {
        const int chunk = int(std::min(plaintext.size() - done, maxChunk));
        int written = 0;
        if (EVP_EncryptUpdate(ctx.get(), cipherText + done, &written, in + done, chunk) != 1 || written != chunk)
            return RemoteCryptoError::sealFailed;
        done += chunk;
    }
    int finalLength = 0;
    if (EVP_EncryptFinal_ex(ctx.get(), cipherText + done, &finalLength) != 1 || finalLength != 0)
        return RemoteCryptoError::sealFailed;
    if (EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, int(tagSize), cipherText + done) != 1)
        return RemoteCryptoError::sealFailed;
    return combined;
}

Expected<QByteArray, RemoteCryptoError> RemoteCrypto::open(QByteArrayView combined, const ContentKey& key)
{
    if (combined.size() < sealOverhead)
        return RemoteCryptoError::incorrectSize;
    EVP_CIPHER* cipher = gcmCipher();
    std::unique_ptr<EVP_CIPHER_CTX, KdfDeleter> ctx(EVP_CIPHER_CTX_new());
    if (!cipher || !ctx)
        return RemoteCryptoError::authenticationFailure;

    const auto* nonce = reinterpret_cast<const unsigned char*>(combined.data());
    const unsigned char* cipherText = nonce + nonceSize;
    const qsizetype length = combined.size() - sealOverhead;
    const unsigned char* tag = cipherText + length;
    if (EVP_DecryptInit_ex2(ctx.get(), cipher, key.bytes().data(), nonce, nullptr) != 1)
        return RemoteCryptoError::authenticationFailure;

    QByteArray plaintext(length, Qt::Uninitialized);
    auto* out = reinterpret_cast<unsigned char*>(plaintext.data());
    qsizetype done = 0;
    bool ok = true;
    while (ok && done < length) {
        const int chunk = int(std::min(length - done, maxChunk));
        int written = 0;
        ok = EVP_DecryptUpdate(ctx.get(), out + done, &written, cipherText + done, chunk) == 1 && written == chunk;
        done += chunk;
    }
    int finalLength = 0;
    ok = ok && EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, int(tagSize), const_cast<unsigned char*>(tag)) == 1
        && EVP_DecryptFinal_ex(ctx.get(), out + done, &finalLength) == 1;
    if (!ok) {
        // Unauthenticated plaintext never leaves this function.
        OPENSSL_cleanse(plaintext.data(), std::size_t(plaintext.size()));
        return RemoteCryptoError::authenticationFailure;
    }
    return plaintext;
}

std::optional<QByteArray> RemoteCrypto::randomBytes(qsizetype count)
{
    if (count < 0 || count > INT_MAX)
        return std::nullopt;
    QByteArray bytes(count, Qt::Uninitialized);
    if (count > 0 && RAND_bytes(reinterpret_cast<unsigned char*>(bytes.data()), int(count)) != 1)
        return std::nullopt;
    return bytes;
}

std::optional<SecretBytes> RemoteCrypto::randomSecret(qsizetype count)
{
    std::optional<QByteArray> bytes = randomBytes(count);
    if (!bytes)
        return std::nullopt;
    SecretBytes secret(*bytes);
    OPENSSL_cleanse(bytes->data(), std::size_t(bytes->size()));
    return secret;
}

std::optional<QByteArray> RemoteCrypto::hkdfSha256(
    QByteArrayView inputKey, QByteArrayView salt, QByteArrayView info, qsizetype length)
{
    if (length <= 0)
        return std::nullopt;
    QByteArray out(length, Qt::Uninitialized);
    if (!hkdf(reinterpret_cast<unsigned char*>(out.data()), std::size_t(length), inputKey, salt, info))
        return std::nullopt;
    return out;
}

std::optional<QByteArray> RemoteCrypto::hmacSha256(QByteArrayView key, QByteArrayView message)
{
    static unsigned char empty = 0;
    QByteArray mac(32, Qt::Uninitialized);
    std::size_t macLength = 0;
    const unsigned char* keyPointer = key.isEmpty() ? &empty : reinterpret_cast<const unsigned char*>(key.data());
    const unsigned char* messagePointer
        = message.isEmpty() ? &empty : reinterpret_cast<const unsigned char*>(message.data());
    if (!EVP_Q_mac(nullptr, "HMAC", nullptr, "SHA256", nullptr, keyPointer, std::size_t(key.size()), messagePointer,
            std::size_t(message.size()), reinterpret_cast<unsigned char*>(mac.data()), 32, &macLength)
        || macLength != 32)
        return std::nullopt;
    return mac;
}

} // namespace Wardlamp
