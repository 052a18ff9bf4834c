#include "LogPrinter.h"

#include "cli/TerminalText.h"
#include "daemon/TerminalWriter.h"
#include "supervision/LineBatch.h"
#include "supervision/ServerStatus.h"

#include <QDateTime>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr QByteArrayView resetColour = "\x1b[0m";
constexpr QByteArrayView dimColour = "\x1b[2m";
constexpr QByteArrayView nameColour = "\x1b[1;36m";
constexpr QByteArrayView errorColour = "\x1b[1;31m";

// Control characters in a name would break the line layout (or drive the terminal).
QByteArray printableName(const QString& name)
{
    QString clean = name;
    for (QChar& c : clean) {
        if (c.category() == QChar::Other_Control)
            c = u' ';
    }
    return clean.isEmpty() ? QByteArray("?") : clean.toUtf8();
}

QByteArrayView statusWord(ServerStatus status)
{
    switch (status) {
    case ServerStatus::stopped:
        return "stopped";
    case ServerStatus::running:
        return "running";
    case ServerStatus::error:
        return "error";
    }
    return "unknown";
}

} // namespace

LogPrinter::LogPrinter(int fd, bool colour)
    : m_colour(colour)
    , m_writer(std::make_unique<TerminalWriter>(fd))
{
}

LogPrinter::~LogPrinter() = default;

bool LogPrinter::isBroken() const
{
    return m_writer->isBroken();
}

bool LogPrinter::flush(std::chrono::milliseconds timeout)
{
    return m_writer->flush(timeout);
}

void LogPrinter::setServerName(const QUuid& id, const QString& name)
{
    m_names.insert(id, printableName(name));
}

QByteArrayView LogPrinter::nameOf(const QUuid& id) const
{
    const auto it = m_names.constFind(id);
    return it == m_names.cend() ? QByteArrayView("?") : QByteArrayView(*it);
}

QByteArray LogPrinter::timeText(const QDateTime& date)
{
    const QTime time = date.toLocalTime().time();
    char text[9];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", time.hour(), time.minute(), time.second());
    return QByteArray(text, 8);
}

void LogPrinter::appendLine(
    QByteArray& out, QByteArrayView time, QByteArrayView name, QByteArrayView text, char marker, bool colour)
{
    const bool isError = marker == '!';
    if (colour)
        out += dimColour;
    out += time;
    if (colour)
        out += resetColour;
    out += ' ';
    if (colour)
        out += isError ? errorColour : nameColour;
    out += name;
    if (colour)
        out += resetColour;
    out += ' ';
    out += marker;
    out += ' ';
    if (colour && isError) {
        out += errorColour;
        TerminalText::append(out, text, colour);
        out += resetColour;
    } else {
        TerminalText::append(out, text, colour);
    }
    out += '\n';
}

void LogPrinter::printBatch(const QUuid& id, const LineBatch& batch)
{
    if (batch.lines.empty() || m_writer->isBroken())
        return;
    const QByteArray time = timeText(batch.date);
    const QByteArrayView name = nameOf(id);
    m_buffer.clear();
    for (const CapturedLine& line : batch.lines)
        appendLine(m_buffer, time, name, line.text, line.isError ? '!' : '|', m_colour);
    m_writer->write(m_buffer, qsizetype(batch.lines.size()));
}

void LogPrinter::printStatus(
    const QUuid& id, const QDateTime& date, ServerStatus status, std::optional<qint32> exitCode)
{
    QByteArray text = statusWord(status).toByteArray();
    if (exitCode && status != ServerStatus::running)
        text += " (last exit code " + QByteArray::number(*exitCode) + ')';
    m_buffer.clear();
    appendLine(m_buffer, timeText(date), nameOf(id), text, '=', m_colour);
    m_writer->write(m_buffer, 1);
}

} // namespace Wardlamp
