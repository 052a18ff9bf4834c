#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

#include <chrono>
#include <memory>

class QDateTime;

namespace Wardlamp {

class TerminalWriter;
struct LineBatch;
enum class ServerStatus;

// Prints server log lines on a file descriptor (standard output), one line per
// log line: "HH:mm:ss NAME | TEXT", or "HH:mm:ss NAME ! TEXT" for error lines,
// so errors stand out without colour; with colour the name and errors are
// highlighted as well. A server's text is made safe for a terminal first
// (TerminalText): its colours pass on a colour terminal, every other control
// sequence and character goes, so a log line is one terminal line that moves
// no cursor and clears no screen. Lines are gathered per batch and handed to a
// TerminalWriter, so a reader that does not keep up never holds up the
// supervision (what does not fit is dropped and said to be). When the reader
// has gone (EPIPE) printing stops for good; supervision goes on. Main thread.
class LogPrinter {
public:
    LogPrinter(int fd, bool colour);
    ~LogPrinter();

    void setServerName(const QUuid& id, const QString& name);

    void printBatch(const QUuid& id, const LineBatch& batch);
    // "HH:mm:ss NAME = STATUS" (and the exit code when there is one).
    void printStatus(const QUuid& id, const QDateTime& date, ServerStatus status, std::optional<qint32> exitCode);

    bool isBroken() const;
    // Waits at most `timeout` for what is queued to reach the reader.
    bool flush(std::chrono::milliseconds timeout);

    // One formatted line, line feed included; the text is a server's and is
    // made safe for the terminal. Exposed for tests.
    static void appendLine(
        QByteArray& out, QByteArrayView time, QByteArrayView name, QByteArrayView text, char marker, bool colour);
    static QByteArray timeText(const QDateTime& date);

private:
    QByteArrayView nameOf(const QUuid& id) const;

    bool m_colour;
    std::unique_ptr<TerminalWriter> m_writer;
    QHash<QUuid, QByteArray> m_names;
    QByteArray m_buffer;
};

} // namespace Wardlamp
