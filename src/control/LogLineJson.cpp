#include "LogLineJson.h"

#include "supervision/LineBatch.h"
#include "supervision/LogRing.h"

#include <QJsonArray>

#include <algorithm>
#include <charconv>
#include <concepts>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// A number's decimal digits, formatted without the allocation of
// QByteArray::number (two a line made up more than a third of the cost of
// encoding a batch).
class Digits {
public:
    template <std::integral Number>
    explicit Digits(Number number)
        : m_size(std::to_chars(m_text, m_text + sizeof m_text, number).ptr - m_text)
    {
    }
    QByteArrayView view() const { return QByteArrayView(m_text, m_size); }

private:
    char m_text[24]; // 20 characters at most (a quint64, or a sign and 19 digits)
    qsizetype m_size;
};

// The most a line takes beside its text: the keys, two numbers of 20
// characters, "false", the braces, quotes and the comma before it.
constexpr qsizetype maxLineOverhead = 96;
// The most one byte of text takes: \u00XX.
constexpr qsizetype maxEscapedByte = 6;

char* put(char* out, QByteArrayView bytes)
{
    std::memcpy(out, bytes.data(), size_t(bytes.size()));
    return out + bytes.size();
}

char* putEscape(char* out, quint8 byte)
{
    static constexpr char hex[] = "0123456789abcdef";
    *out++ = '\\';
    switch (byte) {
    case '"':
    case '\\':
        *out++ = char(byte);
        return out;
    case '\n':
        *out++ = 'n';
        return out;
    case '\r':
        *out++ = 'r';
        return out;
    case '\t':
        *out++ = 't';
        return out;
    default:
        *out++ = 'u';
        *out++ = '0';
        *out++ = '0';
        *out++ = hex[byte >> 4];
        *out++ = hex[byte & 0xF];
        return out;
    }
}

// `text` as a JSON string, quotes included. `out` has room for the worst case
// (maxEscapedByte a byte, plus two), which the 16-byte stores rely on: they
// copy a whole block and keep only what comes before its first byte to escape.
char* putString(char* out, QByteArrayView text)
{
    const char* data = text.data();
    const qsizetype size = text.size();
    *out++ = '"';
    qsizetype i = 0;
#if defined(__SSE2__)
    const __m128i quote = _mm_set1_epi8('"');
    const __m128i backslash = _mm_set1_epi8('\\');
    const __m128i lastControl = _mm_set1_epi8(0x1f);
    while (i + 16 <= size) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(data + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
        // Bytes below 0x20 (unsigned: UTF-8 above 0x7f passes), quotes, backslashes.
        const __m128i special = _mm_or_si128(_mm_cmpeq_epi8(_mm_min_epu8(block, lastControl), block),
            _mm_or_si128(_mm_cmpeq_epi8(block, quote), _mm_cmpeq_epi8(block, backslash)));
        const unsigned mask = unsigned(_mm_movemask_epi8(special));
        if (mask == 0) {
            out += 16;
            i += 16;
            continue;
        }
        const int plain = __builtin_ctz(mask);
        out = putEscape(out + plain, quint8(data[i + plain]));
        i += plain + 1;
    }
#endif
    for (; i < size; ++i) {
        const auto byte = quint8(data[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            *out++ = char(byte);
        else
            out = putEscape(out, byte);
    }
    *out++ = '"';
    return out;
}

// Writes lines into a QByteArray through a raw pointer: room for a line's
// worst case is made before it is written, so the writing itself checks
// nothing, and whatever memory the array already has is written over.
class LinesWriter {
public:
    // `out` is emptied; `estimate` is the size expected (it may grow).
    LinesWriter(QByteArray& out, qsizetype estimate)
        : m_out(out)
    {
        m_out.truncate(0); // keeps the memory; a growth copies nothing stale
        m_out.resize(std::max(estimate, qsizetype(64)));
        m_at = put(m_out.data(), "{\"lines\":[");
    }

    void line(quint64 seq, QByteArrayView time, bool isError, QByteArrayView text)
    {
        makeRoom(maxLineOverhead + maxEscapedByte * text.size() + 2);
        char* out = m_at;
        if (!m_first)
            *out++ = ',';
        m_first = false;
        out = put(out, "{\"seq\":");
        out = put(out, Digits(seq).view());
        out = put(out, ",\"time\":");
        out = put(out, time);
        out = put(
            out, isError ? QByteArrayView(",\"error\":true,\"text\":") : QByteArrayView(",\"error\":false,\"text\":"));
        out = putString(out, text);
        *out++ = '}';
        m_at = out;
    }

    void finish()
    {
        makeRoom(2);
        m_at = put(m_at, "]}");
        m_out.truncate(m_at - m_out.constData());
    }

private:
    void makeRoom(qsizetype bytes)
    {
        const qsizetype used = m_at - m_out.constData();
        if (used + bytes <= m_out.size())
            return;
        m_out.resize(std::max(used + bytes, m_out.size() * 2));
        m_at = m_out.data() + used;
    }

    QByteArray& m_out;
    char* m_at = nullptr;
    bool m_first = true;
};

} // namespace

QByteArray LogLineJson::encode(const LineBatch& batch)
{
    QByteArray out;
    encode(batch, out);
    return out;
}

void LogLineJson::encode(const LineBatch& batch, QByteArray& out)
{
    qsizetype estimate = 16;
    for (const CapturedLine& line : batch.lines)
        estimate += line.text.size() + 64;
    LinesWriter writer(out, estimate);
    // Every line of a batch has the batch's date.
    const Digits time(batch.date.toMSecsSinceEpoch());
    for (const CapturedLine& line : batch.lines)
        writer.line(line.seq, time.view(), line.isError, line.text);
    writer.finish();
}

QByteArray LogLineJson::encode(const LogRing& log, int count, qsizetype maxBytes, bool* truncated)
{
    int begin = std::max(0, log.size() - std::max(0, count));
    qsizetype bytes = 0;
    int from = log.size();
    while (from > begin && bytes + log.textAt(from - 1).size() <= maxBytes) {
        bytes += log.textAt(from - 1).size();
        --from;
    }
    if (truncated)
        *truncated = from > begin;
    QByteArray out;
    LinesWriter writer(out, bytes + (log.size() - from) * 64 + 16);
    for (int i = from; i < log.size(); ++i)
        writer.line(log.seqAt(i), Digits(log.msecsAt(i)).view(), log.isErrorAt(i), log.textAt(i));
    writer.finish();
    return out;
}

std::optional<QList<LogLineJson::Line>> LogLineJson::decode(const QJsonObject& object)
{
    const QJsonValue lines = object.value(QLatin1StringView("lines"));
    if (!lines.isArray())
        return std::nullopt;
    QList<Line> result;
    for (const QJsonValue value : lines.toArray()) {
        const QJsonObject line = value.toObject();
        const QJsonValue seq = line.value(QLatin1StringView("seq"));
        const QJsonValue time = line.value(QLatin1StringView("time"));
        const QJsonValue error = line.value(QLatin1StringView("error"));
        const QJsonValue text = line.value(QLatin1StringView("text"));
        if (!seq.isDouble() || !time.isDouble() || !error.isBool() || !text.isString())
            return std::nullopt;
        result.append({ quint64(seq.toDouble()), qint64(time.toDouble()), error.toBool(), text.toString() });
    }
    return result;
}

} // namespace Wardlamp
