#include "JsonReader_p.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace Wardlamp::Json {

const Value* Value::find(QLatin1String key) const
{
    for (const Member& member : object) {
        if (member.keyEquals(key))
            return &member.value;
    }
    return nullptr;
}

QString Member::key() const
{
    return keyEscaped ? escapedKey : QString::fromUtf8(rawKey);
}

bool Member::keyEquals(QLatin1String key) const
{
    // The keys asked for are ASCII, whose Latin-1 and UTF-8 bytes agree.
    return keyEscaped ? escapedKey == key : rawKey == QByteArrayView(key.data(), key.size());
}

namespace {

// Length of the valid UTF-8 sequence of two to four bytes at p, or 0.
int utf8SequenceLength(const unsigned char* p, const unsigned char* end)
{
    const unsigned char lead = p[0];
    const auto cont = [&](int i, unsigned char lo = 0x80, unsigned char hi = 0xBF) {
        return p + i < end && p[i] >= lo && p[i] <= hi;
    };
    if (lead >= 0xC2 && lead <= 0xDF)
        return cont(1) ? 2 : 0;
    if (lead == 0xE0)
        return cont(1, 0xA0) && cont(2) ? 3 : 0;
    if ((lead >= 0xE1 && lead <= 0xEC) || lead == 0xEE || lead == 0xEF)
        return cont(1) && cont(2) ? 3 : 0;
    if (lead == 0xED) // U+D800..U+DFFF must not be encoded
        return cont(1, 0x80, 0x9F) && cont(2) ? 3 : 0;
    if (lead == 0xF0)
        return cont(1, 0x90) && cont(2) && cont(3) ? 4 : 0;
    if (lead >= 0xF1 && lead <= 0xF3)
        return cont(1) && cont(2) && cont(3) ? 4 : 0;
    if (lead == 0xF4)
        return cont(1, 0x80, 0x8F) && cont(2) && cont(3) ? 4 : 0;
    return 0;
}

int hexDigit(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

bool isDigit(unsigned char c)
{
    return c >= '0' && c <= '9';
}

class Parser {
public:
    explicit Parser(QByteArrayView json)
        : m_p(reinterpret_cast<const unsigned char*>(json.data()))
        , m_end(m_p + json.size())
    {
    }

    std::optional<Value> parseDocument()
    {
        Value value;
        skipSpace();
        if (!parseValue(value, 0))
            return std::nullopt;
        skipSpace();
        if (m_p != m_end)
            return std::nullopt;
        return value;
    }

private:
    void skipSpace()
    {
        while (m_p != m_end && (*m_p == ' ' || *m_p == '\t' || *m_p == '\n' || *m_p == '\r'))
            ++m_p;
    }

    bool literal(const char* text)
    {
        for (; *text; ++text, ++m_p) {
            if (m_p == m_end || *m_p != static_cast<unsigned char>(*text))
                return false;
        }
        return true;
    }

    bool parseValue(Value& out, int depth)
    {
        if (m_p == m_end)
            return false;
        switch (*m_p) {
        case '{':
            return parseObject(out, depth + 1);
        case '[':
            return parseArray(out, depth + 1);
        case '"':
            out.type = Value::Type::string;
            return parseString(out.string);
        case 't':
            out.type = Value::Type::boolean;
            out.boolean = true;
            return literal("true");
        case 'f':
            out.type = Value::Type::boolean;
            out.boolean = false;
            return literal("false");
        case 'n':
            out.type = Value::Type::null;
            return literal("null");
        default:
            return parseNumber(out);
        }
    }

    bool parseObject(Value& out, int depth)
    {
        if (depth > maxDepth)
            return false;
        out.type = Value::Type::object;
        ++m_p; // '{'
        skipSpace();
        if (m_p != m_end && *m_p == '}') {
            ++m_p;
            return true;
        }
        while (true) {
            skipSpace();
            if (m_p == m_end || *m_p != '"')
                return false;
            Member member;
            if (!parseKey(member))
                return false;
            skipSpace();
            if (m_p == m_end || *m_p != ':')
                return false;
            ++m_p;
            skipSpace();
            if (!parseValue(member.value, depth))
                return false;
            out.object.push_back(std::move(member));
            skipSpace();
            if (m_p == m_end)
                return false;
            if (*m_p == ',') {
                ++m_p;
                continue;
            }
            if (*m_p != '}')
                return false;
            ++m_p;
            return !hasDuplicateKeys(out.object);
        }
    }

    static bool hasDuplicateKeys(const std::vector<Member>& members)
    {
        // Two readers that pick different copies of a repeated key would see
        // different messages; refusing the object leaves no room for that.
        const size_t n = members.size();
        if (n < 2)
            return false;
        const bool anyEscaped
            = std::any_of(members.begin(), members.end(), [](const Member& m) { return m.keyEscaped; });
        if (!anyEscaped) {
            // Equal UTF-8 bytes and equal text are the same thing here.
            std::vector<QByteArrayView> keys;
            keys.reserve(n);
            for (const Member& member : members)
                keys.push_back(member.rawKey);
            if (n <= 8) {
                for (size_t i = 0; i < n; ++i) {
                    for (size_t j = i + 1; j < n; ++j) {
                        if (keys[i] == keys[j])
                            return true;
                    }
                }
                return false;
            }
            std::sort(keys.begin(), keys.end());
            return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
        }
        std::vector<QString> keys;
        keys.reserve(n);
        for (const Member& member : members)
            keys.push_back(member.key());
        std::sort(keys.begin(), keys.end());
        return std::adjacent_find(keys.begin(), keys.end()) != keys.end();
    }

    bool parseArray(Value& out, int depth)
    {
        if (depth > maxDepth)
            return false;
        out.type = Value::Type::array;
        ++m_p; // '['
        skipSpace();
        if (m_p != m_end && *m_p == ']') {
            ++m_p;
            return true;
        }
        while (true) {
            skipSpace();
            Value element;
            if (!parseValue(element, depth))
                return false;
            out.array.push_back(std::move(element));
            skipSpace();
            if (m_p == m_end)
                return false;
            if (*m_p == ',') {
                ++m_p;
                continue;
            }
            if (*m_p != ']')
                return false;
            ++m_p;
            return true;
        }
    }

    bool readHex4(char16_t& unit)
    {
        if (m_end - m_p < 4)
            return false;
        int value = 0;
        for (int i = 0; i < 4; ++i) {
            const int digit = hexDigit(m_p[i]);
            if (digit < 0)
                return false;
            value = value * 16 + digit;
        }
        m_p += 4;
        unit = static_cast<char16_t>(value);
        return true;
    }

    bool parseKey(Member& member)
    {
        // Scan ahead: a key without escapes is kept as a view of the input.
        const unsigned char* start = m_p + 1;
        const unsigned char* q = start;
        while (q != m_end && *q != '"' && *q != '\\' && *q >= 0x20 && *q < 0x80)
            ++q;
        if (q != m_end && *q == '"') {
            member.rawKey = QByteArrayView(reinterpret_cast<const char*>(start), q - start);
            m_p = q + 1;
            return true;
        }
        const unsigned char* before = m_p;
        QString decoded;
        if (!parseString(decoded))
            return false;
        bool escaped = false;
        for (const unsigned char* r = before + 1; r < m_p - 1; ++r)
            escaped = escaped || *r == '\\';
        if (escaped) {
            member.keyEscaped = true;
            member.escapedKey = std::move(decoded);
        } else {
            member.rawKey = QByteArrayView(reinterpret_cast<const char*>(before + 1), (m_p - 1) - (before + 1));
        }
        return true;
    }

    bool parseString(QString& out)
    {
        ++m_p; // opening quote
        const unsigned char* run = m_p;
        const auto flush = [&] {
            if (m_p != run)
                out += QString::fromUtf8(reinterpret_cast<const char*>(run), m_p - run);
        };
        while (true) {
            if (m_p == m_end)
                return false;
            const unsigned char c = *m_p;
            if (c == '"') {
                flush();
                ++m_p;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c < 0x80) {
                if (c == '\\') {
                    flush();
                    if (!parseEscape(out))
                        return false;
                    run = m_p;
                    continue;
                }
                ++m_p;
                continue;
            }
            const int length = utf8SequenceLength(m_p, m_end);
            if (length == 0)
                return false;
            m_p += length;
        }
    }

    bool parseEscape(QString& out)
    {
        ++m_p; // backslash
        if (m_p == m_end)
            return false;
        const unsigned char c = *m_p++;
        switch (c) {
        case '"':
            out += QLatin1Char('"');
            return true;
        case '\\':
            out += QLatin1Char('\\');
            return true;
        case '/':
            out += QLatin1Char('/');
            return true;
        case 'b':
            out += QLatin1Char('\b');
            return true;
        case 'f':
            out += QLatin1Char('\f');
            return true;
        case 'n':
            out += QLatin1Char('\n');
            return true;
        case 'r':
            out += QLatin1Char('\r');
            return true;
        case 't':
            out += QLatin1Char('\t');
            return true;
        case 'u':
            break;
        default:
            return false;
        }
        char16_t unit = 0;
        if (!readHex4(unit))
            return false;
        if (QChar::isLowSurrogate(unit))
            return false;
        if (!QChar::isHighSurrogate(unit)) {
            out += QChar(unit);
            return true;
        }
        char16_t low = 0;
        if (m_end - m_p < 2 || m_p[0] != '\\' || m_p[1] != 'u')
            return false;
        m_p += 2;
        if (!readHex4(low) || !QChar::isLowSurrogate(low))
            return false;
        out += QChar(unit);
        out += QChar(low);
        return true;
    }

    bool parseNumber(Value& out)
    {
        const unsigned char* start = m_p;
        bool whole = true;
        if (m_p != m_end && *m_p == '-')
            ++m_p;
        if (m_p == m_end || !isDigit(*m_p))
            return false;
        if (*m_p == '0') {
            ++m_p;
        } else {
            while (m_p != m_end && isDigit(*m_p))
                ++m_p;
        }
        if (m_p != m_end && *m_p == '.') {
            whole = false;
            ++m_p;
            if (m_p == m_end || !isDigit(*m_p))
                return false;
            while (m_p != m_end && isDigit(*m_p))
                ++m_p;
        }
        if (m_p != m_end && (*m_p == 'e' || *m_p == 'E')) {
            whole = false;
            ++m_p;
            if (m_p != m_end && (*m_p == '+' || *m_p == '-'))
                ++m_p;
            if (m_p == m_end || !isDigit(*m_p))
                return false;
            while (m_p != m_end && isDigit(*m_p))
                ++m_p;
        }
        const char* first = reinterpret_cast<const char*>(start);
        const char* last = reinterpret_cast<const char*>(m_p);
        out.type = Value::Type::number;
        const auto [doubleEnd, doubleError] = std::from_chars(first, last, out.number);
        // Out of range (1e400, 1e-400) is refused rather than turned into
        // infinity or a silent zero.
        if (doubleError != std::errc() || doubleEnd != last || !std::isfinite(out.number))
            return false;
        if (whole) {
            const auto [intEnd, intError] = std::from_chars(first, last, out.integer);
            out.integral = intError == std::errc() && intEnd == last;
        } else {
            // 4.0 or 1e3 still name a whole number, as they do for other
            // readers of this protocol.
            constexpr double limit = 9223372036854775808.0; // 2^63
            out.integral = std::trunc(out.number) == out.number && out.number >= -limit && out.number < limit;
            if (out.integral)
                out.integer = static_cast<qint64>(out.number);
        }
        return true;
    }

    const unsigned char* m_p;
    const unsigned char* m_end;
};

} // namespace

std::optional<Value> parse(QByteArrayView json)
{
    return Parser(json).parseDocument();
}

} // namespace Wardlamp::Json
