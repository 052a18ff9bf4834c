#include "ContentKey.h"

#include <QDebug>

#include <openssl/crypto.h>

#include <cstring>

namespace Wardlamp {

std::optional<ContentKey> ContentKey::fromBytes(QByteArrayView raw)
{
    if (raw.size() != static_cast<qsizetype>(size))
        return std::nullopt;
    ContentKey key;
    std::memcpy(key.m_bytes.data(), raw.data(), size);
    return key;
}

ContentKey::~ContentKey()
{
    OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
}

bool operator==(const ContentKey& a, const ContentKey& b)
{
    return CRYPTO_memcmp(a.m_bytes.data(), b.m_bytes.data(), ContentKey::size) == 0;
}

QDebug operator<<(QDebug debug, const ContentKey&)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "ContentKey(redacted)";
    return debug;
}

} // namespace Wardlamp
