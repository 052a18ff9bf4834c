#include "ErrorPattern.h"

#include "ErrorWords.h"

#include <QString>

#include <array>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Wardlamp {

namespace {

inline bool isWord(unsigned char c)
{
    return isAsciiWordByte(c);
}

// Checks the word run starting at `start` (which begins a run).
inline bool runMatches(const unsigned char* data, qsizetype size, qsizetype start)
{
    qsizetype end = start + 1;
    while (end < size && isWord(data[end]))
        ++end;
    return isErrorWord(reinterpret_cast<const char*>(data + start), end - start);
}

bool matchesAsciiScalar(const unsigned char* data, qsizetype size, qsizetype from, bool previousIsWord)
{
    bool prev = previousIsWord;
    for (qsizetype i = from; i < size; ++i) {
        const bool word = isWord(data[i]);
        if (word && !prev && runMatches(data, size, i))
            return true;
        prev = word;
    }
    return false;
}

} // namespace

const QRegularExpression& ErrorPattern::expression()
{
    static const QRegularExpression regex = [] {
        // Unicode properties make \b see letters of every script as word characters.
        QRegularExpression re(pattern.toString(), QRegularExpression::UseUnicodePropertiesOption);
        re.optimize();
        return re;
    }();
    return regex;
}

bool ErrorPattern::matches(QStringView line)
{
    return expression().match(line).hasMatch();
}

bool ErrorPattern::isAscii(QByteArrayView bytes)
{
    const char* p = bytes.data();
    qsizetype n = bytes.size();
    quint64 acc = 0;
    while (n >= 8) {
        quint64 word;
        std::memcpy(&word, p, 8);
        acc |= word;
        p += 8;
        n -= 8;
    }
    while (n > 0) {
        acc |= static_cast<unsigned char>(*p++);
        --n;
    }
    return (acc & 0x8080808080808080ULL) == 0;
}

bool ErrorPattern::matchesAscii(QByteArrayView line)
{
    const auto* data = reinterpret_cast<const unsigned char*>(line.data());
    const qsizetype size = line.size();
#if defined(__SSE2__)
    // Sixteen bytes at a time: find positions that begin a word run and whose
    // first two letters could start a listed word (errorWordStarts); only
    // those are checked byte by byte. Loads never reach past the line.
    qsizetype i = 0;
    bool prevWord = false;
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    while (i + 17 <= size) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        const __m128i next = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1));
        const __m128i lo = _mm_or_si128(raw, caseBit);
        const __m128i lo2 = _mm_or_si128(next, caseBit);
        // Word characters: letters (via the lower-cased byte), digits, underscore.
        const __m128i letter
            = _mm_cmplt_epi8(_mm_add_epi8(lo, _mm_set1_epi8(char(128 - 'a'))), _mm_set1_epi8(char(-128 + 26)));
        const __m128i digit
            = _mm_cmplt_epi8(_mm_add_epi8(raw, _mm_set1_epi8(char(128 - '0'))), _mm_set1_epi8(char(-128 + 10)));
        const __m128i word = _mm_or_si128(_mm_or_si128(letter, digit), eq(raw, '_'));
        const unsigned wordMask = unsigned(_mm_movemask_epi8(word));
        const unsigned startMask = wordMask & ~((wordMask << 1) | (prevWord ? 1u : 0u)) & 0xffffu;
        if (startMask) {
            unsigned candidates = startMask & unsigned(_mm_movemask_epi8(errorWordStartsSse2(lo, lo2)));
            while (candidates) {
                const int bit = __builtin_ctz(candidates);
                if (runMatches(data, size, i + bit))
                    return true;
                candidates &= candidates - 1;
            }
        }
        prevWord = (wordMask & 0x8000u) != 0;
        i += 16;
    }
    return matchesAsciiScalar(data, size, i, prevWord);
#else
    return matchesAsciiScalar(data, size, 0, false);
#endif
}

bool ErrorPattern::mayMatchNonAscii(QByteArrayView line)
{
    const auto* data = reinterpret_cast<const unsigned char*>(line.data());
    const qsizetype size = line.size();
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i caseBit = _mm_set1_epi8(0x20);
    for (; i + 17 <= size; i += 16) {
        const __m128i lo = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i)), caseBit);
        const __m128i lo2 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i + 1)), caseBit);
        if (_mm_movemask_epi8(errorWordStartsSse2(lo, lo2)))
            return true;
    }
#endif
    for (; i + 1 < size; ++i) {
        if (mayStartErrorWord(char(data[i]), char(data[i + 1])))
            return true;
    }
    return false;
}

bool ErrorPattern::matchesUtf8(QByteArrayView line)
{
    if (isAscii(line))
        return matchesAscii(line);
    return mayMatchNonAscii(line) && matches(QString::fromUtf8(line));
}

} // namespace Wardlamp
