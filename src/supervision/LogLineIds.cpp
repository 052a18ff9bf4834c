#include "LogLineIds.h"

#include <QCryptographicHash>
#include <QRandomGenerator>

#include <cstring>

namespace Wardlamp {

namespace {

constexpr quint64 mask60 = (quint64(1) << 60) - 1;

const std::array<quint64, 4>& processKey()
{
    static const std::array<quint64, 4> key = [] {
        std::array<quint64, 4> value {};
        QRandomGenerator::system()->fillRange(value.data(), value.size());
        return value;
    }();
    return key;
}

std::array<quint64, 3> serverKey(const QUuid& serverId)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    const auto& key = processKey();
    hash.addData(QByteArrayView(reinterpret_cast<const char*>(key.data()), qsizetype(sizeof key)));
    hash.addData(serverId.toRfc4122());
    const QByteArray digest = hash.result();
    std::array<quint64, 3> value {};
    static_assert(sizeof value <= 32);
    std::memcpy(value.data(), digest.constData(), sizeof value);
    return value;
}

// A keyed permutation of [0, 2^60): odd multipliers and right shifts within
// 60 bits are each invertible there.
quint64 permute60(quint64 x, quint64 key)
{
    x = (x + key) & mask60;
    x ^= x >> 31;
    x = (x * 0x7fb5d329728ea185ULL) & mask60;
    x ^= x >> 27;
    x = (x * 0x81dadef4bc2dd44dULL) & mask60;
    x ^= x >> 33;
    return x;
}

// splitmix64's finaliser.
quint64 mix64(quint64 x)
{
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

} // namespace

LogLineIds::LogLineIds(const QUuid& serverId)
{
    if (serverId.isNull()) {
        static const std::array<quint64, 3> nullKey = serverKey(QUuid());
        m_key = nullKey;
    } else {
        m_key = serverKey(serverId);
    }
}

QUuid LogLineIds::id(quint64 seq) const
{
    const quint64 high = permute60(seq, m_key[0]); // 60 bits
    const quint64 low = mix64(seq ^ m_key[1]) ^ m_key[2];
    // Version 4 in the third group's top nibble, variant 10 in the fourth's top bits.
    return QUuid(uint(high >> 28), ushort(high >> 12), ushort(0x4000 | (high & 0x0fff)),
        uchar(0x80 | ((low >> 56) & 0x3f)), uchar(low >> 48), uchar(low >> 40), uchar(low >> 32), uchar(low >> 24),
        uchar(low >> 16), uchar(low >> 8), uchar(low));
}

} // namespace Wardlamp
