#pragma once

#include <QByteArrayView>
#include <QLatin1String>
#include <QString>

#include <optional>
#include <vector>

namespace Wardlamp::Json {

struct Member;

// One parsed JSON value. Numbers keep both their double value and, when the
// value is a whole number that fits, its exact 64-bit integer, so that integer
// fields are checked against the text and not against a rounded double.
struct Value {
    enum class Type : quint8 { null, boolean, number, string, array, object };

    Type type = Type::null;
    bool boolean = false;
    bool integral = false;
    qint64 integer = 0;
    double number = 0;
    QString string;
    std::vector<Value> array;
    std::vector<Member> object;

    // The value under `key`, or nullptr when the key is absent. Keys are unique
    // (the reader rejects duplicates).
    const Value* find(QLatin1String key) const;
};

// An object member. Most keys hold no escapes: they are kept as a view of the
// input bytes (valid UTF-8) instead of a QString of their own.
struct Member {
    QByteArrayView rawKey; // when !keyEscaped
    QString escapedKey; // when keyEscaped
    bool keyEscaped = false;
    Value value;

    QString key() const;
    bool keyEquals(QLatin1String key) const;
};

// Deepest nesting of arrays and objects the reader accepts.
inline constexpr int maxDepth = 512;

// Strict RFC 8259 reader: one value with optional surrounding white space, UTF-8
// validated (no overlong forms, no encoded surrogates), string escapes with
// paired surrogates only, no raw control characters in strings, numbers that fit
// a finite double, no duplicate keys in an object, nesting up to maxDepth.
// Anything else is nothing. The result refers to `json`, which must outlive it.
std::optional<Value> parse(QByteArrayView json);

} // namespace Wardlamp::Json
