#pragma once

#include "ErrorWords.h"

#include <QByteArrayView>
#include <QRegularExpression>
#include <QStringView>

namespace Wardlamp {

// Recognises error output: the case-insensitive whole words of errorWords
// (error, exception, uncaught, unhandled, econnrefused, eaddrinuse, fatal,
// panic, traceback).
//
// matches() runs the regular expression. matchesUtf8() gives the same answer
// for UTF-8 text; lines made of ASCII bytes take a fast path over raw bytes
// (about 20x faster than the expression), others take the expression, because
// caseless matching in UTF mode folds U+212A KELVIN SIGN to k and U+017F LONG S
// to s. Thread-safe: usable from the output thread.
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
    static bool isAscii(QByteArrayView bytes);
};

} // namespace Wardlamp
