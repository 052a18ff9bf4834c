#include "LogLineJson.h"

#include "supervision/LineBatch.h"
#include "supervision/LogRing.h"

#include <QJsonArray>

#include <charconv>
#include <concepts>
#include <utility>

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

void appendLine(QByteArray& out, quint64 seq, QByteArrayView time, bool isError, QByteArrayView text)
{
    out += "{\"seq\":";
    out += Digits(seq).view();
    out += ",\"time\":";
    out += time;
    out += isError ? ",\"error\":true,\"text\":" : ",\"error\":false,\"text\":";
    LogLineJson::appendString(out, text);
    out += '}';
}

} // namespace

void LogLineJson::appendString(QByteArray& out, QByteArrayView text)
{
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    qsizetype plainFrom = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const auto byte = quint8(text[i]);
        if (byte >= 0x20 && byte != '"' && byte != '\\')
            continue;
        out += text.sliced(plainFrom, i - plainFrom);
        plainFrom = i + 1;
        switch (byte) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default: {
            const char escape[] = { '\\', 'u', '0', '0', hex[byte >> 4], hex[byte & 0xF] };
            out += QByteArrayView(escape, sizeof escape);
        }
        }
    }
    out += text.sliced(plainFrom);
    out += '"';
}

QByteArray LogLineJson::encode(const LineBatch& batch)
{
    qsizetype size = 16;
    for (const CapturedLine& line : batch.lines)
        size += line.text.size() + 64;
    QByteArray out;
    out.reserve(size);
    out += "{\"lines\":[";
    // Every line of a batch has the batch's date.
    const Digits time(batch.date.toMSecsSinceEpoch());
    bool first = true;
    for (const CapturedLine& line : batch.lines) {
        if (!std::exchange(first, false))
            out += ',';
        appendLine(out, line.seq, time.view(), line.isError, line.text);
    }
    out += "]}";
    return out;
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
    out.reserve(bytes + (log.size() - from) * 64 + 16);
    out += "{\"lines\":[";
    for (int i = from; i < log.size(); ++i) {
        if (i > from)
            out += ',';
        appendLine(out, log.seqAt(i), Digits(log.msecsAt(i)).view(), log.isErrorAt(i), log.textAt(i));
    }
    out += "]}";
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
