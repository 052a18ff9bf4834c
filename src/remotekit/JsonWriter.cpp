#include "JsonWriter_p.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace Wardlamp::Json {

namespace {

constexpr char hexDigits[] = "0123456789abcdef";

void appendEscapedUnit(QByteArray& out, char16_t unit)
{
    const char escape[] = { '\\', 'u', hexDigits[(unit >> 12) & 0xF], hexDigits[(unit >> 8) & 0xF],
        hexDigits[(unit >> 4) & 0xF], hexDigits[unit & 0xF] };
    out.append(escape, sizeof escape);
}

void appendUtf8(QByteArray& out, char32_t code)
{
    char bytes[4];
    int n = 0;
    if (code < 0x800) {
        bytes[n++] = static_cast<char>(0xC0 | (code >> 6));
    } else if (code < 0x10000) {
        bytes[n++] = static_cast<char>(0xE0 | (code >> 12));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    } else {
        bytes[n++] = static_cast<char>(0xF0 | (code >> 18));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
        bytes[n++] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
    }
    bytes[n++] = static_cast<char>(0x80 | (code & 0x3F));
    out.append(bytes, n);
}

} // namespace

void appendString(QByteArray& out, QStringView text)
{
    out.append('"');
    const char16_t* p = text.utf16();
    const char16_t* const end = p + text.size();
    while (p != end) {
        // Plain printable ASCII goes out in one piece.
        const char16_t* run = p;
        while (p != end && *p >= 0x20 && *p < 0x7F && *p != u'"' && *p != u'\\')
            ++p;
        if (p != run) {
            const qsizetype start = out.size();
            out.resize(start + (p - run));
            char* dst = out.data() + start;
            for (const char16_t* q = run; q != p; ++q)
                *dst++ = static_cast<char>(*q);
        }
        if (p == end)
            break;
        const char16_t unit = *p++;
        switch (unit) {
        case u'"':
            out.append("\\\"", 2);
            continue;
        case u'\\':
            out.append("\\\\", 2);
            continue;
        case u'\n':
            out.append("\\n", 2);
            continue;
        case u'\r':
            out.append("\\r", 2);
            continue;
        case u'\t':
            out.append("\\t", 2);
            continue;
        case u'\b':
            out.append("\\b", 2);
            continue;
        case u'\f':
            out.append("\\f", 2);
            continue;
        default:
            break;
        }
        if (unit < 0x20 || (unit >= 0x7F && unit <= 0x9F) || unit == 0x2028 || unit == 0x2029) {
            appendEscapedUnit(out, unit);
        } else if (QChar::isHighSurrogate(unit)) {
            if (p != end && QChar::isLowSurrogate(*p)) {
                appendUtf8(out, QChar::surrogateToUcs4(unit, *p));
                ++p;
            } else {
                appendUtf8(out, 0xFFFD);
            }
        } else if (QChar::isLowSurrogate(unit)) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, unit);
        }
    }
    out.append('"');
}

Writer::Writer()
{
    m_out.reserve(256);
}

void Writer::beforeValue()
{
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_hasItems.empty()) {
        if (m_hasItems.back())
            m_out.append(',');
        m_hasItems.back() = true;
    }
}

void Writer::beginObject()
{
    beforeValue();
    m_out.append('{');
    m_hasItems.push_back(false);
}

void Writer::endObject()
{
    m_out.append('}');
    m_hasItems.pop_back();
}

void Writer::beginArray()
{
    beforeValue();
    m_out.append('[');
    m_hasItems.push_back(false);
}

void Writer::endArray()
{
    m_out.append(']');
    m_hasItems.pop_back();
}

void Writer::key(QLatin1String name)
{
    beforeValue();
    m_out.append('"');
    m_out.append(name.data(), name.size());
    m_out.append("\":", 2);
    m_afterKey = true;
}

void Writer::string(QStringView text)
{
    beforeValue();
    appendString(m_out, text);
}

void Writer::string(QLatin1String text)
{
    const bool plain
        = std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F && c != '"' && c != '\\'; });
    if (!plain) {
        string(QString(text));
        return;
    }
    beforeValue();
    m_out.append('"');
    m_out.append(text.data(), text.size());
    m_out.append('"');
}

void Writer::uuid(const QUuid& id)
{
    beforeValue();
    static constexpr char upper[] = "0123456789ABCDEF";
    char text[38];
    char* p = text;
    *p++ = '"';
    const auto put = [&p](quint64 value, int digits) {
        for (int i = digits - 1; i >= 0; --i)
            *p++ = upper[(value >> (4 * i)) & 0xF];
    };
    put(id.data1, 8);
    *p++ = '-';
    put(id.data2, 4);
    *p++ = '-';
    put(id.data3, 4);
    *p++ = '-';
    put((quint64(id.data4[0]) << 8) | id.data4[1], 4);
    *p++ = '-';
    quint64 node = 0;
    for (int i = 2; i < 8; ++i)
        node = (node << 8) | id.data4[i];
    put(node, 12);
    *p++ = '"';
    m_out.append(text, sizeof text);
}

void Writer::boolean(bool value)
{
    beforeValue();
    if (value)
        m_out.append("true", 4);
    else
        m_out.append("false", 5);
}

void Writer::integer(qint64 value)
{
    beforeValue();
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, result.ptr - buffer);
}

void Writer::number(double value)
{
    beforeValue();
    if (!std::isfinite(value)) {
        m_failed = true;
        m_out.append('0');
        return;
    }
    // Shortest text that reads back as the same double; whole numbers in the
    // exact range of a double (every timestamp of this era) as plain digits.
    char buffer[32];
    constexpr double exactLimit = 9007199254740992.0; // 2^53
    const bool plainInteger = std::trunc(value) == value && std::abs(value) < exactLimit;
    const auto result = plainInteger ? std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed)
                                     : std::to_chars(buffer, buffer + sizeof buffer, value);
    m_out.append(buffer, result.ptr - buffer);
}

std::optional<QByteArray> Writer::finish()
{
    if (m_failed)
        return std::nullopt;
    return std::move(m_out);
}

} // namespace Wardlamp::Json
