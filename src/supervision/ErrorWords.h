#pragma once

#include <QtGlobal>

#include <array>
#include <bit>
#include <cstddef>
#include <string_view>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Wardlamp {

// The words that make a line of output an error line, lower case, in the
// order of the error pattern. This is the one list: the regular expression's
// text, the fast path's word test, and the classifier's letter tables are all
// made from it at compile time. A word is at least three lower-case ASCII
// letters (the classifier spots words by their first three).
inline constexpr auto errorWords = std::to_array<std::string_view>(
    { "error", "exception", "uncaught", "unhandled", "econnrefused", "eaddrinuse", "fatal", "panic", "traceback" });

namespace ErrorWordsDetail {

constexpr bool isLowerLetter(char c)
{
    return c >= 'a' && c <= 'z';
}

constexpr bool wellFormed()
{
    for (const std::string_view word : errorWords) {
        if (word.size() < 3)
            return false;
        for (const char c : word) {
            if (!isLowerLetter(c))
                return false;
        }
    }
    return true;
}
static_assert(wellFormed(), "error words are lower-case ASCII letters, at least three of them");

constexpr std::string_view patternHead = "(?i)\\b(";
constexpr std::string_view patternTail = ")\\b";

constexpr std::size_t patternLength()
{
    std::size_t length = patternHead.size() + patternTail.size() + errorWords.size() - 1;
    for (const std::string_view word : errorWords)
        length += word.size();
    return length;
}

} // namespace ErrorWordsDetail

// "(?i)\b(error|exception|...)\b" as UTF-16, without a terminator.
inline constexpr std::array<char16_t, ErrorWordsDetail::patternLength()> errorPatternText = [] {
    std::array<char16_t, ErrorWordsDetail::patternLength()> text {};
    std::size_t at = 0;
    const auto put = [&](std::string_view part) {
        for (const char c : part)
            text[at++] = char16_t(c);
    };
    put(ErrorWordsDetail::patternHead);
    for (std::size_t i = 0; i < errorWords.size(); ++i) {
        if (i > 0)
            put("|");
        put(errorWords[i]);
    }
    put(ErrorWordsDetail::patternTail);
    return text;
}();

// The word characters of ASCII text. The expression counts letters and
// digits of every script as word characters, but a line of ASCII bytes holds
// no others: the fast paths look only at lines without bytes >= 0x80.
inline constexpr std::array<bool, 256> asciiWordBytes = [] {
    std::array<bool, 256> table {};
    for (int c = 0; c < 256; ++c)
        table[c] = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    return table;
}();

inline bool isAsciiWordByte(unsigned char c)
{
    return asciiWordBytes[c];
}

// `lowerWord` is lower-case ASCII; p holds at least `length` bytes.
inline bool equalsIgnoringAsciiCase(const char* p, const char* lowerWord, qsizetype length)
{
    for (qsizetype i = 0; i < length; ++i) {
        const char c = (p[i] >= 'A' && p[i] <= 'Z') ? static_cast<char>(p[i] | 0x20) : p[i];
        if (c != lowerWord[i])
            return false;
    }
    return true;
}

namespace ErrorWordsDetail {

template <std::size_t... I> inline bool isErrorWord(const char* p, qsizetype length, std::index_sequence<I...>)
{
    // The lengths are constants: this unfolds into a length switch with one
    // comparison per word of that length.
    return (
        (qsizetype(errorWords[I].size()) == length && equalsIgnoringAsciiCase(p, errorWords[I].data(), length)) || ...);
}

} // namespace ErrorWordsDetail

// With \b on both sides, a listed word matches exactly when a whole run of
// word characters equals it, ignoring case.
inline bool isErrorWord(const char* p, qsizetype length)
{
    return ErrorWordsDetail::isErrorWord(p, length, std::make_index_sequence<errorWords.size()>());
}

// The first two letters of the words: a listed word can begin only where one
// of these pairs stands (in either case). One entry per first letter.
struct ErrorWordStart {
    char first = 0;
    std::array<char, 27> seconds {}; // zero-terminated
};

namespace ErrorWordsDetail {

constexpr std::size_t distinctFirstLetters()
{
    std::array<bool, 26> seen {};
    std::size_t count = 0;
    for (const std::string_view word : errorWords) {
        if (!seen[std::size_t(word[0] - 'a')]) {
            seen[std::size_t(word[0] - 'a')] = true;
            ++count;
        }
    }
    return count;
}

} // namespace ErrorWordsDetail

inline constexpr std::array<ErrorWordStart, ErrorWordsDetail::distinctFirstLetters()> errorWordStarts = [] {
    std::array<ErrorWordStart, ErrorWordsDetail::distinctFirstLetters()> starts {};
    std::size_t used = 0;
    for (const std::string_view word : errorWords) {
        std::size_t at = 0;
        while (at < used && starts[at].first != word[0])
            ++at;
        if (at == used)
            starts[used++].first = word[0];
        std::array<char, 27>& seconds = starts[at].seconds;
        std::size_t n = 0;
        while (seconds[n] != 0 && seconds[n] != word[1])
            ++n;
        seconds[n] = word[1];
    }
    return starts;
}();

// For each lower-case first letter, the second letters that may follow it (bit
// n: 'a' + n). Both letters lower-cased with | 0x20.
inline constexpr std::array<quint32, 26> errorWordSeconds = [] {
    std::array<quint32, 26> table {};
    for (const std::string_view word : errorWords)
        table[std::size_t(word[0] - 'a')] |= quint32(1) << (word[1] - 'a');
    return table;
}();

// Whether a listed word could begin with these two bytes (any case).
inline bool mayStartErrorWord(char c0, char c1)
{
    const auto first = static_cast<unsigned char>(c0 | 0x20);
    const auto second = static_cast<unsigned char>(c1 | 0x20);
    if (first < 'a' || first > 'z' || second < 'a' || second > 'z')
        return false;
    return (errorWordSeconds[first - 'a'] >> (second - 'a')) & 1u;
}

#if defined(__SSE2__)
namespace ErrorWordsDetail {

template <std::size_t group, std::size_t second> inline void addSecond(__m128i& any, __m128i lower1)
{
    constexpr char letter = errorWordStarts[group].seconds[second];
    if constexpr (letter != 0)
        any = _mm_or_si128(any, _mm_cmpeq_epi8(lower1, _mm_set1_epi8(letter)));
}

template <std::size_t group, std::size_t... second>
inline __m128i anySecond(__m128i lower1, std::index_sequence<second...>)
{
    __m128i any = _mm_setzero_si128();
    (addSecond<group, second>(any, lower1), ...);
    return any;
}

template <std::size_t... group> inline __m128i wordStarts(__m128i lower0, __m128i lower1, std::index_sequence<group...>)
{
    __m128i starts = _mm_setzero_si128();
    ((starts = _mm_or_si128(starts,
          _mm_and_si128(_mm_cmpeq_epi8(lower0, _mm_set1_epi8(errorWordStarts[group].first)),
              anySecond<group>(lower1, std::make_index_sequence<ErrorWordStart {}.seconds.size()>())))),
        ...);
    return starts;
}

} // namespace ErrorWordsDetail

// Sixteen positions at once: 0xff where the bytes `lower0` (lower-cased with
// | 0x20) and the next ones, `lower1`, could begin a listed word.
inline __m128i errorWordStartsSse2(__m128i lower0, __m128i lower1)
{
    return ErrorWordsDetail::wordStarts(lower0, lower1, std::make_index_sequence<errorWordStarts.size()>());
}
#endif

// The classifier's vector kernels look at three bytes at once and give each
// position one bit per group of words: a group is a set of first letters, one
// of second letters and one of third letters, and admits every combination of
// them. Words with the same first two letters share a group; while there are
// more groups than bits, the two whose merger admits the fewest new
// combinations are merged (fat and pan: f or p, a, t or n). Extra combinations
// only add candidates, which are checked byte by byte. Sets are 26-bit masks
// of lower-case letters.
struct ErrorWordGroup {
    quint32 first = 0;
    quint32 second = 0;
    quint32 third = 0;
};

namespace ErrorWordsDetail {

constexpr quint32 letterBit(char c)
{
    return quint32(1) << (c - 'a');
}

constexpr int combinations(const ErrorWordGroup& g)
{
    return std::popcount(g.first) * std::popcount(g.second) * std::popcount(g.third);
}

template <std::size_t bits> constexpr std::array<ErrorWordGroup, bits> groupWords()
{
    std::array<ErrorWordGroup, errorWords.size()> groups {};
    std::size_t count = 0;
    for (const std::string_view word : errorWords) {
        const char third = word[2];
        std::size_t at = 0;
        while (at < count && !(groups[at].first == letterBit(word[0]) && groups[at].second == letterBit(word[1])))
            ++at;
        if (at == count) {
            groups[at].first = letterBit(word[0]);
            groups[at].second = letterBit(word[1]);
            ++count;
        }
        groups[at].third |= letterBit(third);
    }
    while (count > bits) {
        std::size_t bestA = 0;
        std::size_t bestB = 1;
        int bestCost = -1;
        for (std::size_t a = 0; a < count; ++a) {
            for (std::size_t b = a + 1; b < count; ++b) {
                const ErrorWordGroup merged { groups[a].first | groups[b].first, groups[a].second | groups[b].second,
                    groups[a].third | groups[b].third };
                const int cost = combinations(merged) - combinations(groups[a]) - combinations(groups[b]);
                if (bestCost < 0 || cost < bestCost) {
                    bestCost = cost;
                    bestA = a;
                    bestB = b;
                }
            }
        }
        groups[bestA].first |= groups[bestB].first;
        groups[bestA].second |= groups[bestB].second;
        groups[bestA].third |= groups[bestB].third;
        for (std::size_t i = bestB; i + 1 < count; ++i)
            groups[i] = groups[i + 1];
        --count;
    }
    std::array<ErrorWordGroup, bits> result {};
    for (std::size_t i = 0; i < count && i < bits; ++i)
        result[i] = groups[i];
    return result;
}

} // namespace ErrorWordsDetail

// The groups of the classifier's seven word bits (an unused bit has empty sets).
inline constexpr std::array<ErrorWordGroup, 7> errorWordGroups = ErrorWordsDetail::groupWords<7>();

} // namespace Wardlamp
