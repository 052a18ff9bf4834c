#pragma once

#include "ErrorWords.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QStringView>

namespace Wardlamp {

// Recognises error output: the case-insensitive whole words of errorWords
// (error, exception, uncaught, unhandled, econnrefused, eaddrinuse, fatal,
// panic, traceback). A word counts only where it stands alone: letters and
// digits of any script, and _, are word characters (the expression runs with
// Unicode properties), so "caféerror" and "日本error" hold no error word.
//
// matches() runs the regular expression. matchesUtf8() gives the same answer
// for UTF-8 text: lines made of ASCII bytes take a fast path over raw bytes
// (about 20x faster than the expression; in ASCII text Unicode word
// characters are ASCII ones), others take the expression, because caseless
// matching folds U+212A KELVIN SIGN to k and U+017F LONG S to s, unless
// mayMatchNonAscii() rules a match out first. Thread-safe: usable from the
// output thread.
class ErrorPattern {
public:
    // "(?i)\b(error|exception|...)\b", made from errorWords.
    static constexpr QStringView pattern { errorPatternText.data(), qsizetype(errorPatternText.size()) };

    // The compiled expression; compiled once.
    static const QRegularExpression& expression();

    static bool matches(QStringView line);
    static bool matchesUtf8(QByteArrayView line);

    // The fast path alone; only meaningful for lines without bytes >= 0x80.
    static bool matchesAscii(QByteArrayView line);
    // For any UTF-8 text: false guarantees that matches() finds nothing. A
    // listed word can begin only with two of its ASCII letters (in either
    // case), and no character outside ASCII folds onto one of them, so text
    // without such a pair anywhere holds no listed word.
    static bool mayMatchNonAscii(QByteArrayView line);
    static bool isAscii(QByteArrayView bytes);
};

} // namespace Wardlamp
