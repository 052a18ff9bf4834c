#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QUuid>

class QDateTime;

namespace Wardlamp {

struct LineBatch;
enum class ServerStatus;

// Prints server log lines on a file descriptor (standard output), one line per
// log line: "HH:mm:ss NAME | TEXT", or "HH:mm:ss NAME ! TEXT" for error lines,
// so errors stand out without colour; with colour the name and errors are
// highlighted as well. Lines are gathered per batch and written with one
// write, blocking when the reader is slow. When the reader has gone (EPIPE)
// printing stops for good; supervision goes on. Main thread.
class LogPrinter {
public:
    LogPrinter(int fd, bool colour);

    void setServerName(const QUuid& id, const QString& name);

    void printBatch(const QUuid& id, const LineBatch& batch);
    // "HH:mm:ss NAME = STATUS" (and the exit code when there is one).
    void printStatus(const QUuid& id, const QDateTime& date, ServerStatus status, std::optional<qint32> exitCode);

    bool isBroken() const { return m_broken; }

    // One formatted line, line feed included. Exposed for tests.
    static void appendLine(
        QByteArray& out, QByteArrayView time, QByteArrayView name, QByteArrayView text, char marker, bool colour);
    static QByteArray timeText(const QDateTime& date);

private:
    QByteArrayView nameOf(const QUuid& id) const;
    void write(const QByteArray& data);

    int m_fd;
    bool m_colour;
    bool m_broken = false;
    QHash<QUuid, QByteArray> m_names;
    QByteArray m_buffer;
};

} // namespace Wardlamp
