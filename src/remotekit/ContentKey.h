#pragma once

#include <QByteArrayView>

#include <array>
#include <optional>
#include <span>

class QDebug;

namespace Wardlamp {

// The 256-bit AES key that seals every peer message of a room. Derived by
// RemoteCrypto::contentKey, held by the agent for the life of a connection.
// Deliberately no conversion to text or QByteArray and no streaming of its bytes:
// the key never leaves the process. Every copy is wiped when destroyed.
class ContentKey {
public:
    static constexpr std::size_t size = 32;

    // A key from exactly 32 raw bytes (known-answer tests, keys kept elsewhere);
    // nothing for any other length.
    static std::optional<ContentKey> fromBytes(QByteArrayView raw);

    ContentKey(const ContentKey& other) = default;
    ContentKey& operator=(const ContentKey& other) = default;
    ~ContentKey();

    // For the cryptographic primitives only.
    std::span<const unsigned char, size> bytes() const { return m_bytes; }

    // Constant time.
    friend bool operator==(const ContentKey& a, const ContentKey& b);

private:
    friend class RemoteCrypto;
    ContentKey() = default;

    std::array<unsigned char, size> m_bytes {};
};

// Prints "ContentKey(redacted)", never the bytes.
QDebug operator<<(QDebug debug, const ContentKey& key);

} // namespace Wardlamp
