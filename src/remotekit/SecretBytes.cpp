#include "SecretBytes.h"

#include <QDebug>

#include <openssl/crypto.h>

namespace Wardlamp {

SecretBytes::SecretBytes(QByteArrayView raw)
    : m_bytes(reinterpret_cast<const unsigned char*>(raw.data()),
        reinterpret_cast<const unsigned char*>(raw.data()) + raw.size())
{
}

SecretBytes::SecretBytes(const SecretBytes& other)
    : m_bytes(other.m_bytes)
{
}

SecretBytes::SecretBytes(SecretBytes&& other) noexcept
    : m_bytes(std::move(other.m_bytes))
{
}

SecretBytes& SecretBytes::operator=(const SecretBytes& other)
{
    if (this != &other) {
        wipe();
        m_bytes = other.m_bytes;
    }
    return *this;
}

SecretBytes& SecretBytes::operator=(SecretBytes&& other) noexcept
{
    if (this != &other) {
        wipe();
        m_bytes = std::move(other.m_bytes);
    }
    return *this;
}

SecretBytes::~SecretBytes()
{
    wipe();
}

void SecretBytes::wipe()
{
    if (!m_bytes.empty())
        OPENSSL_cleanse(m_bytes.data(), m_bytes.size());
    m_bytes.clear();
}

QByteArray SecretBytes::revealBytes() const
{
    return view().toByteArray();
}

bool operator==(const SecretBytes& a, const SecretBytes& b)
{
    return a.m_bytes.size() == b.m_bytes.size()
        && (a.m_bytes.empty() || CRYPTO_memcmp(a.m_bytes.data(), b.m_bytes.data(), a.m_bytes.size()) == 0);
}

QDebug operator<<(QDebug debug, const SecretBytes& secret)
{
    QDebugStateSaver saver(debug);
    debug.nospace() << "SecretBytes(" << secret.size() << " bytes)";
    return debug;
}

} // namespace Wardlamp
