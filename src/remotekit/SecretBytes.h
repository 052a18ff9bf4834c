#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <span>
#include <vector>

class QDebug;

namespace Wardlamp {

// Key material held as bytes: the pairing secret. Not text and never turned into
// text by accident: no conversion operators and no streaming of its bytes;
// revealBytes() is the one explicit way out (for the secret store). Every copy
// is wiped when destroyed or overwritten.
class SecretBytes {
public:
    SecretBytes() = default;
    explicit SecretBytes(QByteArrayView raw);
    SecretBytes(const SecretBytes& other);
    SecretBytes(SecretBytes&& other) noexcept;
    SecretBytes& operator=(const SecretBytes& other);
    SecretBytes& operator=(SecretBytes&& other) noexcept;
    ~SecretBytes();

    qsizetype size() const { return static_cast<qsizetype>(m_bytes.size()); }
    bool isEmpty() const { return m_bytes.empty(); }
    std::span<const unsigned char> bytes() const { return m_bytes; }
    QByteArrayView view() const { return QByteArrayView(reinterpret_cast<const char*>(m_bytes.data()), size()); }

    // A copy of the bytes, for storing the secret. The caller owns the copy.
    QByteArray revealBytes() const;

    // Constant time for equal lengths.
    friend bool operator==(const SecretBytes& a, const SecretBytes& b);

private:
    void wipe();

    std::vector<unsigned char> m_bytes;
};

// Prints the length only, never the bytes.
QDebug operator<<(QDebug debug, const SecretBytes& secret);

} // namespace Wardlamp
