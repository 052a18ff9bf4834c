#include "LineClassifier.h"

#include "ErrorWords.h"

#include <array>
#include <atomic>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define WL_X86 1
#endif

namespace Wardlamp {

namespace {

inline bool isWord(char c)
{
    return isAsciiWordByte(static_cast<unsigned char>(c));
}

using Marks = LineClassifier::Marks;

// Lines with an escape sequence are left to the caller like non-ASCII ones:
// error and port detection must see them without their escape sequences.
constexpr char escape = 0x1B;

// The marks of one byte position, the definition the vector versions follow:
// a byte >= 0x80 or ESC; a line feed; the first two letters of a listed word (any
// case, errorWordStarts; a kernel may narrow this to three letters,
// errorWordGroups); the n of "n u" or "nus". Candidates only need to include
// every real match: each one is verified byte by byte.
[[maybe_unused]] void markScalar(const char* d, qsizetype words, Marks* out)
{
    for (qsizetype w = 0; w < words; ++w) {
        Marks marks {};
        for (int b = 0; b < 64; ++b) {
            const qsizetype i = w * 64 + b;
            const char c0 = char(d[i] | 0x20);
            const char c1 = char(d[i + 1] | 0x20);
            const char c2 = char(d[i + 2] | 0x20);
            const quint64 bit = quint64(1) << b;
            if (static_cast<unsigned char>(d[i]) >= 0x80 || d[i] == escape)
                marks.nonAscii |= bit;
            if (d[i] == '\n')
                marks.newlines |= bit;
            if (mayStartErrorWord(c0, c1))
                marks.errorCandidates |= bit;
            if (c0 == 'n' && ((d[i + 1] == ' ' && c2 == 'u') || (c1 == 'u' && c2 == 's')))
                marks.portCandidates |= bit;
        }
        out[w] = marks;
    }
}

#if WL_X86
// The vector kernels look at three bytes c0 c1 c2 at every position and keep
// one bit per wording in each of six 16-byte tables, indexed by the low and
// the high half of each byte: a position is a candidate for a wording when the
// bit survives all six lookups. Upper case shares the tables with lower case
// (high halves 4/6 and 5/7 carry the same bits); a byte >= 0x80 finds no bit.
// A pair of halves may also admit a byte that is not one of the letters (the
// tables describe products of sets), which only adds candidates: each one is
// verified byte by byte.
//
// Bits 0-6: the groups of listed words (errorWordGroups); bit 7: the n of
// "n u" (in use) and "nus" (eaddrinuse).
static_assert(errorWordGroups.size() == 7, "seven bits of the tables are for words, one for the in-use wording");
struct PortTrigram {
    const char* first;
    const char* second;
    const char* third;
};
constexpr PortTrigram portTrigram { "n", " u", "us" };
constexpr quint8 portBit = 0x80;

// Each table four times over: one copy per 16-byte lane of a 512-bit register.
struct NibbleTable {
    std::array<quint8, 64> low {};
    std::array<quint8, 64> high {};
};

constexpr void addByte(NibbleTable& table, int bit, unsigned char byte)
{
    for (int lane = 0; lane < 64; lane += 16) {
        table.low[lane + (byte & 15)] |= quint8(1u << bit);
        table.high[lane + (byte >> 4)] |= quint8(1u << bit);
        if (byte >= 'a' && byte <= 'z')
            table.high[lane + (byte >> 4) - 2] |= quint8(1u << bit); // upper case
    }
}

constexpr NibbleTable nibbleTable(int letter)
{
    NibbleTable table;
    for (int bit = 0; bit < int(errorWordGroups.size()); ++bit) {
        const ErrorWordGroup& group = errorWordGroups[std::size_t(bit)];
        const quint32 set = letter == 0 ? group.first : letter == 1 ? group.second : group.third;
        for (int c = 0; c < 26; ++c) {
            if (set & (quint32(1) << c))
                addByte(table, bit, static_cast<unsigned char>('a' + c));
        }
    }
    const char* port = letter == 0 ? portTrigram.first : letter == 1 ? portTrigram.second : portTrigram.third;
    for (const char* c = port; *c; ++c)
        addByte(table, 7, static_cast<unsigned char>(*c));
    return table;
}

constexpr NibbleTable letterTables[3] = { nibbleTable(0), nibbleTable(1), nibbleTable(2) };

__attribute__((target("avx512f,avx512bw"))) void markAvx512(const char* d, qsizetype words, Marks* out)
{
#define WL_TABLE512(t) _mm512_loadu_si512((t).data())
    const __m512i low0 = WL_TABLE512(letterTables[0].low), high0 = WL_TABLE512(letterTables[0].high);
    const __m512i low1 = WL_TABLE512(letterTables[1].low), high1 = WL_TABLE512(letterTables[1].high);
    const __m512i low2 = WL_TABLE512(letterTables[2].low), high2 = WL_TABLE512(letterTables[2].high);
#undef WL_TABLE512
    const __m512i nibble = _mm512_set1_epi8(0x0f);
    const __m512i newline = _mm512_set1_epi8('\n');
    const __m512i wordBits = _mm512_set1_epi8(char(~portBit));
    const __m512i portBits = _mm512_set1_epi8(char(portBit));
    // (Macros: lambdas would not inherit the target attribute.)
#define WL_BITS512(v, low, high)                                                                                       \
    _mm512_and_si512(                                                                                                  \
        _mm512_shuffle_epi8(low, v), _mm512_shuffle_epi8(high, _mm512_and_si512(_mm512_srli_epi16(v, 4), nibble)))
    for (qsizetype w = 0; w < words; ++w) {
        const char* p = d + w * 64;
        const __m512i raw = _mm512_loadu_si512(p);
        const __m512i raw1 = _mm512_loadu_si512(p + 1);
        const __m512i raw2 = _mm512_loadu_si512(p + 2);
        const __m512i b0 = WL_BITS512(raw, low0, high0);
        const __m512i b1 = WL_BITS512(raw1, low1, high1);
        const __m512i b2 = WL_BITS512(raw2, low2, high2);
        const __m512i all = _mm512_ternarylogic_epi64(b0, b1, b2, 0x80); // b0 & b1 & b2
        out[w] = Marks { _mm512_cmpeq_epi8_mask(raw, newline),
            _mm512_movepi8_mask(raw) | _mm512_cmpeq_epi8_mask(raw, _mm512_set1_epi8(escape)),
            _mm512_test_epi8_mask(all, wordBits), _mm512_test_epi8_mask(all, portBits) };
    }
#undef WL_BITS512
}

__attribute__((target("avx2"))) void markAvx2(const char* d, qsizetype words, Marks* out)
{
#define WL_TABLE256(t) _mm256_loadu_si256(reinterpret_cast<const __m256i*>((t).data()))
    const __m256i low0 = WL_TABLE256(letterTables[0].low), high0 = WL_TABLE256(letterTables[0].high);
    const __m256i low1 = WL_TABLE256(letterTables[1].low), high1 = WL_TABLE256(letterTables[1].high);
    const __m256i low2 = WL_TABLE256(letterTables[2].low), high2 = WL_TABLE256(letterTables[2].high);
#undef WL_TABLE256
    const __m256i nibble = _mm256_set1_epi8(0x0f);
    const __m256i newline = _mm256_set1_epi8('\n');
    const __m256i zero = _mm256_setzero_si256();
    const __m256i escapes = _mm256_set1_epi8(escape);
    const __m256i wordBits = _mm256_set1_epi8(char(~portBit));
    const __m256i portBits = _mm256_set1_epi8(char(portBit));
#define WL_BITS256(v, low, high)                                                                                       \
    _mm256_and_si256(                                                                                                  \
        _mm256_shuffle_epi8(low, v), _mm256_shuffle_epi8(high, _mm256_and_si256(_mm256_srli_epi16(v, 4), nibble)))
    // The bytes in which `v & keep` is not zero.
#define WL_ANY256(v, keep)                                                                                             \
    (~quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(_mm256_and_si256(v, keep), zero)))) & 0xffffffffu)
    for (qsizetype w = 0; w < words; ++w) {
        Marks marks {};
        for (int half = 0; half < 2; ++half) {
            const char* p = d + w * 64 + half * 32;
            const __m256i raw = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
            const __m256i raw1 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 1));
            const __m256i raw2 = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 2));
            const __m256i b0 = WL_BITS256(raw, low0, high0);
            const __m256i b1 = WL_BITS256(raw1, low1, high1);
            const __m256i b2 = WL_BITS256(raw2, low2, high2);
            const __m256i all = _mm256_and_si256(_mm256_and_si256(b0, b1), b2);
            const int shift = half * 32;
            marks.newlines |= quint64(quint32(_mm256_movemask_epi8(_mm256_cmpeq_epi8(raw, newline)))) << shift;
            marks.nonAscii
                |= quint64(quint32(_mm256_movemask_epi8(_mm256_or_si256(raw, _mm256_cmpeq_epi8(raw, escapes)))))
                << shift;
            marks.errorCandidates |= WL_ANY256(all, wordBits) << shift;
            marks.portCandidates |= WL_ANY256(all, portBits) << shift;
        }
        out[w] = marks;
    }
#undef WL_ANY256
#undef WL_BITS256
}

void markSse2(const char* d, qsizetype words, Marks* out)
{
    const __m128i caseBit = _mm_set1_epi8(0x20);
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    const auto mask = [](__m128i v) { return quint64(quint32(_mm_movemask_epi8(v))); };
    for (qsizetype w = 0; w < words; ++w) {
        Marks marks {};
        for (int quarter = 0; quarter < 4; ++quarter) {
            const char* p = d + w * 64 + quarter * 16;
            const __m128i raw = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
            const __m128i raw1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 1));
            const __m128i c0 = _mm_or_si128(raw, caseBit);
            const __m128i c1 = _mm_or_si128(raw1, caseBit);
            const __m128i c2 = _mm_or_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 2)), caseBit);
            const __m128i error = errorWordStartsSse2(c0, c1);
            const __m128i port = _mm_and_si128(eq(c0, 'n'),
                _mm_or_si128(_mm_and_si128(eq(raw1, ' '), eq(c2, 'u')), _mm_and_si128(eq(c1, 'u'), eq(c2, 's'))));
            const int shift = quarter * 16;
            marks.newlines |= mask(eq(raw, '\n')) << shift;
            marks.nonAscii |= mask(_mm_or_si128(raw, eq(raw, escape))) << shift;
            marks.errorCandidates |= mask(error) << shift;
            marks.portCandidates |= mask(port) << shift;
        }
        out[w] = marks;
    }
}

using Kernel = LineClassifier::Kernel;

Kernel bestKernel()
{
    static const Kernel kernel = __builtin_cpu_supports("avx512bw") ? Kernel::avx512
        : __builtin_cpu_supports("avx2")                            ? Kernel::avx2
                                                                    : Kernel::sse2;
    return kernel;
}
#endif

std::atomic<LineClassifier::Kernel> s_forcedKernel { LineClassifier::Kernel::automatic };

} // namespace

void LineClassifier::scan(const char* data, qsizetype size)
{
    m_data = data;
    m_size = size;
    // Whole 64-byte steps: the last one reads up to 66 bytes past the final full step.
    const qsizetype words = (size + 63) / 64;
    // Grown only: resizing down and up again would zero the marks each time.
    if (m_marks.size() < std::size_t(words + 1))
        m_marks.resize(std::size_t(words + 1));
    Marks* out = m_marks.data();
    Kernel kernel = s_forcedKernel.load(std::memory_order_relaxed);
#if WL_X86
    if (kernel == Kernel::automatic)
        kernel = bestKernel();
#endif
    switch (kernel) {
#if WL_X86
    case Kernel::avx512:
        markAvx512(data, words, out);
        break;
    case Kernel::avx2:
        markAvx2(data, words, out);
        break;
    case Kernel::sse2:
        markSse2(data, words, out);
        break;
#endif
    default:
        markScalar(data, words, out);
        break;
    }
    m_marks[std::size_t(words)] = LineClassifier::Marks {};
}

bool LineClassifier::supports(Kernel kernel)
{
    switch (kernel) {
    case Kernel::automatic:
    case Kernel::scalar:
        return true;
#if WL_X86
    case Kernel::avx512:
        return __builtin_cpu_supports("avx512bw");
    case Kernel::avx2:
        return __builtin_cpu_supports("avx2");
    case Kernel::sse2:
        return true;
#endif
    default:
        return false;
    }
}

bool LineClassifier::forceKernel(Kernel kernel)
{
    if (!supports(kernel))
        return false;
    s_forcedKernel.store(kernel, std::memory_order_relaxed);
    return true;
}

template <typename Check>
bool LineClassifier::anyVerified(
    quint64 LineClassifier::Marks::*bits, qsizetype begin, qsizetype end, Check&& check) const
{
    if (begin >= end)
        return false;
    for (qsizetype word = begin >> 6; word <= (end - 1) >> 6; ++word) {
        quint64 mask = m_marks[std::size_t(word)].*bits;
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

qsizetype LineClassifier::findNewline(qsizetype from) const
{
    if (from >= m_size)
        return -1;
    qsizetype word = from >> 6;
    quint64 mask = m_marks[std::size_t(word)].newlines & (~quint64(0) << (from & 63));
    const qsizetype lastWord = (m_size - 1) >> 6;
    while (!mask) {
        if (++word > lastWord)
            return -1;
        mask = m_marks[std::size_t(word)].newlines;
    }
    const qsizetype pos = (word << 6) + __builtin_ctzll(mask);
    return pos < m_size ? pos : -1;
}

LineClassifier::Facts LineClassifier::facts(qsizetype begin, qsizetype end) const
{
    Facts result;
    if (begin >= end)
        return result;
    const char* line = m_data + begin;
    const qsizetype size = end - begin;
    for (qsizetype word = begin >> 6; word <= (end - 1) >> 6; ++word) {
        const qsizetype base = word << 6;
        quint64 range = ~quint64(0);
        if (base < begin)
            range &= ~quint64(0) << (begin - base);
        if (end - base < 64)
            range &= (quint64(1) << (end - base)) - 1;
        const LineClassifier::Marks& marks = m_marks[std::size_t(word)];
        if (!((marks.nonAscii | marks.errorCandidates | marks.portCandidates) & range))
            continue;
        if (marks.nonAscii & range) {
            result.ascii = false;
            return result;
        }
        for (quint64 mask = marks.errorCandidates & range; mask && !result.error; mask &= mask - 1)
            result.error = errorWordAt(line, size, base + __builtin_ctzll(mask) - begin);
        for (quint64 mask = marks.portCandidates & range; mask && !result.mayMentionPort; mask &= mask - 1)
            result.mayMentionPort = portWordingAt(line, size, base + __builtin_ctzll(mask) - begin);
    }
    return result;
}

bool LineClassifier::isAscii(qsizetype begin, qsizetype end) const
{
    return !anyVerified(&Marks::nonAscii, begin, end, [](qsizetype) { return true; });
}

bool LineClassifier::isError(qsizetype begin, qsizetype end) const
{
    const char* line = m_data + begin;
    return anyVerified(&Marks::errorCandidates, begin, end,
        [&](qsizetype pos) { return errorWordAt(line, end - begin, pos - begin); });
}

bool LineClassifier::mayMentionPort(qsizetype begin, qsizetype end) const
{
    const char* line = m_data + begin;
    return anyVerified(&Marks::portCandidates, begin, end,
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
    return isErrorWord(line + pos, end - pos);
}

bool LineClassifier::portWordingAt(const char* line, qsizetype size, qsizetype pos)
{
    // `pos` is the n of "in use" (one letter in) or of "eaddrinuse" (six in).
    if (pos >= 1 && pos + 5 <= size && equalsIgnoringAsciiCase(line + pos - 1, "in use", 6))
        return true;
    return pos >= 6 && pos + 4 <= size && equalsIgnoringAsciiCase(line + pos - 6, "eaddrinuse", 10);
}

} // namespace Wardlamp
