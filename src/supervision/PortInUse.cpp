#include "PortInUse.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Wardlamp {

namespace {

const QRegularExpression& portWordPattern()
{
    static const QRegularExpression re(QStringLiteral("(?i)port[^0-9]{0,6}([0-9]{2,5})"));
    return re;
}

const QRegularExpression& colonPattern()
{
    static const QRegularExpression re(QStringLiteral(":([0-9]{2,5})\\b"));
    return re;
}

inline unsigned char lower(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') ? c | 0x20 : c;
}

bool equalsLowerAt(const unsigned char* data, qsizetype size, qsizetype at, const char* word)
{
    const qsizetype n = qsizetype(std::strlen(word));
    if (at < 0 || at + n > size)
        return false;
    for (qsizetype k = 0; k < n; ++k) {
        if (lower(data[at + k]) != static_cast<unsigned char>(word[k]))
            return false;
    }
    return true;
}

// Both wordings end in "use": find that (any case), then look back.
inline bool useMatchesAt(const unsigned char* data, qsizetype size, qsizetype at)
{
    return equalsLowerAt(data, size, at - 3, "in ") || equalsLowerAt(data, size, at - 7, "eaddrin");
}

} // namespace

std::optional<int> PortInUse::detect(QStringView line)
{
    const QString lowered = line.toString().toLower();
    const bool inUse = lowered.contains(u"in use");
    const bool wording = lowered.contains(u"eaddrinuse") || lowered.contains(u"address already in use")
        || lowered.contains(u"in use?") || (lowered.contains(u"port") && inUse);
    if (!wording)
        return std::nullopt;
    if (const auto port = firstCapturedInt(portWordPattern(), line))
        return port;
    return firstCapturedInt(colonPattern(), line);
}

bool PortInUse::saysItCarriesOn(QStringView line)
{
    return line.contains(u"trying another", Qt::CaseInsensitive) || line.contains(u"instead", Qt::CaseInsensitive);
}

std::optional<int> PortInUse::firstCapturedInt(const QString& pattern, QStringView text)
{
    const QRegularExpression re(pattern);
    if (!re.isValid())
        return std::nullopt;
    return firstCapturedInt(re, text);
}

std::optional<int> PortInUse::firstCapturedInt(const QRegularExpression& pattern, QStringView text)
{
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch() || pattern.captureCount() < 1 || match.capturedStart(1) < 0)
        return std::nullopt;
    bool ok = false;
    const int value = match.capturedView(1).toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return value;
}

bool PortInUse::mayMentionAscii(QByteArrayView line)
{
    const auto* data = reinterpret_cast<const unsigned char*>(line.data());
    const qsizetype size = line.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i caseBit = _mm_set1_epi8(0x20);
    while (i + 18 <= size) {
        const auto load = [&](qsizetype at) {
            return _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + at)), caseBit);
        };
        const __m128i hit = _mm_and_si128(_mm_cmpeq_epi8(load(i), _mm_set1_epi8('u')),
            _mm_and_si128(
                _mm_cmpeq_epi8(load(i + 1), _mm_set1_epi8('s')), _mm_cmpeq_epi8(load(i + 2), _mm_set1_epi8('e'))));
        unsigned mask = unsigned(_mm_movemask_epi8(hit));
        while (mask) {
            if (useMatchesAt(data, size, i + __builtin_ctz(mask)))
                return true;
            mask &= mask - 1;
        }
        i += 16;
    }
#endif
    for (; i + 3 <= size; ++i) {
        if (lower(data[i]) == 'u' && lower(data[i + 1]) == 's' && lower(data[i + 2]) == 'e'
            && useMatchesAt(data, size, i))
            return true;
    }
    return false;
}

} // namespace Wardlamp
