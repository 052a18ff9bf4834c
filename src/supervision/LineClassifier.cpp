#include "LineClassifier.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define WL_X86 1
#endif

namespace Wardlamp {

namespace {

constexpr std::array<bool, 256> wordTable = [] {
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return table;
}();

inline bool isWord(char c) { return wordTable[static_cast<unsigned char>(c)]; }
inline char lower(char c) { return (c >= 'A' && c <= 'Z') ? char(c | 0x20) : c; }

bool equalsLower(const char* p, const char* word, qsizetype length)
{
    for (qsizetype i = 0; i < length; ++i) {
        if (lower(p[i]) != word[i])
            return false;
    }
    return true;
}

bool isListedWord(const char* p, qsizetype length)
{
    switch (length) {
    case 5:
        return equalsLower(p, "error", 5) || equalsLower(p, "fatal", 5) || equalsLower(p, "panic", 5);
    case 8:
        return equalsLower(p, "uncaught", 8);
    case 9:
        return equalsLower(p, "exception", 9) || equalsLower(p, "unhandled", 9) || equalsLower(p, "traceback", 9);
    case 10:
        return equalsLower(p, "eaddrinuse", 10);
    case 12:
        return equalsLower(p, "econnrefused", 12);
    default:
        return false;
    }
}

#if !(defined(__x86_64__) || defined(__i386__))
// Scalar marking for machines without the vector units used below.
inline void markScalar(const char* d, qsizetype i, quint64* nonAscii, quint64* error, quint64* port)
{
    const char c0 = lower(d[i]);
    const char c1 = lower(d[i + 1]);
    const char c2 = lower(d[i + 2]);
    const quint64 bit = quint64(1) << (i & 63);
    const qsizetype word = i >> 6;
    if (static_cast<unsigned char>(d[i]) >= 0x80)
        nonAscii[word] |= bit;
    const bool e = (c0 == 'e' && (c1 == 'r' || c1 == 'x' || c1 == 'c' || c1 == 'a')) || (c0 == 'u' && c1 == 'n')
        || ((c0 == 'f' || c0 == 'p') && c1 == 'a') || (c0 == 't' && c1 == 'r');
    if (e)
        error[word] |= bit;
    if (c0 == 'n' && ((d[i + 1] == ' ' && c2 == 'u') || (c1 == 'u' && c2 == 's')))
        port[word] |= bit;
}
#endif

#if WL_X86
// The same marks, 32 bytes at a time. |0x20 folds A-Z onto a-z; other bytes
// that land on a letter are not letters of the words, and candidates are
// verified byte by byte anyway.
#define WL_EQ256(v, c) _mm256_cmpeq_epi8((v), _mm256_set1_epi8(c))
__attribute__((target("avx2"))) void markAvx2(const char* d, qsizetype size, quint64* nonAscii, quint64* error,
                                              quint64* port)
{
    const __m256i caseBit = _mm256_set1_epi8(0x20);
    for (qsizetype i = 0; i < size; i += 32) {
        const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i));
        const __m256i raw1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 1));
        const __m256i raw2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(d + i + 2));
        const __m256i c0 = _mm256_or_si256(raw, caseBit);
        const __m256i c1 = _mm256_or_si256(raw1, caseBit);
        const __m256i c2 = _mm256_or_si256(raw2, caseBit);
        const __m256i nextA = WL_EQ256(c1, 'a');
        const __m256i nextR = WL_EQ256(c1, 'r');
        const __m256i e = _mm256_and_si256(
            WL_EQ256(c0, 'e'), _mm256_or_si256(_mm256_or_si256(nextR, WL_EQ256(c1, 'x')), _mm256_or_si256(WL_EQ256(c1, 'c'), nextA)));
        const __m256i u = _mm256_and_si256(WL_EQ256(c0, 'u'), WL_EQ256(c1, 'n'));
        const __m256i fp = _mm256_and_si256(_mm256_or_si256(WL_EQ256(c0, 'f'), WL_EQ256(c0, 'p')), nextA);
        const __m256i t = _mm256_and_si256(WL_EQ256(c0, 't'), nextR);
        const __m256i errorMask = _mm256_or_si256(_mm256_or_si256(e, u), _mm256_or_si256(fp, t));
        const __m256i portMask = _mm256_and_si256(
            WL_EQ256(c0, 'n'),
            _mm256_or_si256(_mm256_and_si256(WL_EQ256(raw1, ' '), WL_EQ256(c2, 'u')), _mm256_and_si256(WL_EQ256(c1, 'u'), WL_EQ256(c2, 's'))));
        const int shift = int(i & 63);
        const qsizetype word = i >> 6;
        nonAscii[word] |= quint64(quint32(_mm256_movemask_epi8(raw))) << shift;
        error[word] |= quint64(quint32(_mm256_movemask_epi8(errorMask))) << shift;
        port[word] |= quint64(quint32(_mm256_movemask_epi8(portMask))) << shift;
    }
}
#undef WL_EQ256

void markSse2(const char* d, qsizetype size, quint64* nonAscii, quint64* error, quint64* port)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    for (qsizetype i = 0; i < size; i += 16) {
        const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i));
        const __m128i raw1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 1));
        const __m128i raw2 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(d + i + 2));
        const __m128i c0 = _mm_or_si128(raw, caseBit);
        const __m128i c1 = _mm_or_si128(raw1, caseBit);
        const __m128i c2 = _mm_or_si128(raw2, caseBit);
        const __m128i nextA = eq(c1, 'a');
        const __m128i nextR = eq(c1, 'r');
        const __m128i e
            = _mm_and_si128(eq(c0, 'e'), _mm_or_si128(_mm_or_si128(nextR, eq(c1, 'x')), _mm_or_si128(eq(c1, 'c'), nextA)));
        const __m128i u = _mm_and_si128(eq(c0, 'u'), eq(c1, 'n'));
        const __m128i fp = _mm_and_si128(_mm_or_si128(eq(c0, 'f'), eq(c0, 'p')), nextA);
        const __m128i t = _mm_and_si128(eq(c0, 't'), nextR);
        const __m128i errorMask = _mm_or_si128(_mm_or_si128(e, u), _mm_or_si128(fp, t));
        const __m128i portMask = _mm_and_si128(
            eq(c0, 'n'), _mm_or_si128(_mm_and_si128(eq(raw1, ' '), eq(c2, 'u')), _mm_and_si128(eq(c1, 'u'), eq(c2, 's'))));
        const int shift = int(i & 63);
        const qsizetype word = i >> 6;
        nonAscii[word] |= quint64(quint32(_mm_movemask_epi8(raw))) << shift;
        error[word] |= quint64(quint32(_mm_movemask_epi8(errorMask))) << shift;
        port[word] |= quint64(quint32(_mm_movemask_epi8(portMask))) << shift;
    }
}

bool hasAvx2()
{
    static const bool supported = __builtin_cpu_supports("avx2");
    return supported;
}
#endif

} // namespace

void LineClassifier::scan(const char* data, qsizetype size)
{
    m_data = data;
    m_size = size;
    // Vector steps may run up to one step past `size`; room for that word too.
    const std::size_t words = std::size_t(size / 64 + 2);
    m_nonAscii.assign(words, 0);
    m_errorCandidates.assign(words, 0);
    m_portCandidates.assign(words, 0);
#if WL_X86
    if (hasAvx2())
        markAvx2(data, size, m_nonAscii.data(), m_errorCandidates.data(), m_portCandidates.data());
    else
        markSse2(data, size, m_nonAscii.data(), m_errorCandidates.data(), m_portCandidates.data());
#else
    for (qsizetype i = 0; i < size; ++i)
        markScalar(data, i, m_nonAscii.data(), m_errorCandidates.data(), m_portCandidates.data());
#endif
}

template<typename Check>
bool LineClassifier::anyVerified(const std::vector<quint64>& bits, qsizetype begin, qsizetype end, Check&& check) const
{
    if (begin >= end)
        return false;
    for (qsizetype word = begin >> 6; word <= (end - 1) >> 6; ++word) {
        quint64 mask = bits[std::size_t(word)];
        if (!mask)
            continue;
        const qsizetype base = word << 6;
        if (base < begin)
            mask &= ~quint64(0) << (begin - base);
        if (end - base < 64)
            mask &= (quint64(1) << (end - base)) - 1;
        while (mask) {
            const qsizetype pos = base + __builtin_ctzll(mask);
            if (check(pos))
                return true;
            mask &= mask - 1;
        }
    }
    return false;
}

bool LineClassifier::isAscii(qsizetype begin, qsizetype end) const
{
    return !anyVerified(m_nonAscii, begin, end, [](qsizetype) { return true; });
}

bool LineClassifier::isError(qsizetype begin, qsizetype end) const
{
    const char* line = m_data + begin;
    return anyVerified(m_errorCandidates, begin, end,
                       [&](qsizetype pos) { return errorWordAt(line, end - begin, pos - begin); });
}

bool LineClassifier::mayMentionPort(qsizetype begin, qsizetype end) const
{
    const char* line = m_data + begin;
    return anyVerified(m_portCandidates, begin, end,
                       [&](qsizetype pos) { return portWordingAt(line, end - begin, pos - begin); });
}

bool LineClassifier::errorWordAt(const char* line, qsizetype size, qsizetype pos)
{
    // \b before: the run of word characters must begin here.
    if (pos > 0 && isWord(line[pos - 1]))
        return false;
    qsizetype end = pos;
    while (end < size && isWord(line[end]))
        ++end;
    return isListedWord(line + pos, end - pos);
}

bool LineClassifier::portWordingAt(const char* line, qsizetype size, qsizetype pos)
{
    // `pos` is the n of "in use" (one letter in) or of "eaddrinuse" (six in).
    if (pos >= 1 && pos + 5 <= size && equalsLower(line + pos - 1, "in use", 6))
        return true;
    return pos >= 6 && pos + 4 <= size && equalsLower(line + pos - 6, "eaddrinuse", 10);
}

} // namespace Wardlamp
