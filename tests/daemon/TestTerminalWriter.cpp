#include "daemon/TerminalWriter.h"

#include "TestEnvironment.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace std::chrono_literals;
using namespace Qt::StringLiterals;
using Wardlamp::TerminalWriter;

namespace {

// Reads what is in the pipe now, without waiting.
QByteArray drain(int fd)
{
    QByteArray all;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0)
            return all;
        all.append(buffer, got);
    }
}

// Writes `line` into the pipe until it is full; how many went in.
int fillPipe(int fd, const QByteArray& line)
{
    const int flags = ::fcntl(fd, F_GETFL);
    ::fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int count = 0;
    while (::write(fd, line.constData(), size_t(line.size())) == line.size())
        ++count;
    ::fcntl(fd, F_SETFL, flags);
    return count;
}

} // namespace

// The terminal writer over a real pipe whose reader stops, comes back, or goes.
class TestTerminalWriter : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
        std::signal(SIGPIPE, SIG_IGN);
    }

    void writesInOrder()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        {
            TerminalWriter writer(fds[1]);
            for (int i = 0; i < 100; ++i)
                writer.write(QByteArray(QByteArray::number(i) + '\n'), 1);
            QVERIFY(writer.flush(std::chrono::milliseconds(Wardlamp::Test::waitMs(5000))));
            QCOMPARE(writer.droppedLines(), 0u);
        }
        QByteArray expected;
        for (int i = 0; i < 100; ++i)
            expected += QByteArray::number(i) + '\n';
        QCOMPARE(drain(fds[0]), expected);
        ::close(fds[0]);
        ::close(fds[1]);
    }

    // A reader that stops reading holds up no caller: what does not fit is
    // dropped, and said once the reader reads again.
    void aReaderThatStopsHoldsUpNobody()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
        const QByteArray line = QByteArray(99, 'x') + '\n';
        // The pipe is full before the writer starts, so its thread blocks on
        // its first write and nothing it is given later can slip through.
        const int prefilled = fillPipe(fds[1], line);
        TerminalWriter writer(fds[1], 64 * 1024);
        QElapsedTimer timer;
        timer.start();
        const int given = 20000; // 2 MB behind a full pipe, into a 64 KiB queue
        for (int i = 0; i < given; ++i)
            writer.write(line, 1);
        QVERIFY2(timer.elapsed() < 2000, qPrintable(QString::number(timer.elapsed())));
        QVERIFY(writer.droppedLines() > 10000);
        QVERIFY(!writer.flush(100ms)); // the reader takes nothing

        // The reader is back: what was queued comes, the notes, new lines.
        QByteArray read;
        QTRY_VERIFY_WITH_TIMEOUT((read += drain(fds[0]), writer.flush(0ms)), Wardlamp::Test::waitMs(5000));
        writer.write("after\n", 1);
        QVERIFY(writer.flush(std::chrono::milliseconds(Wardlamp::Test::waitMs(5000))));
        read += drain(fds[0]);
        // Whole lines only: each one shown, or a note of how many were not
        // (one per stretch of drops, written when room comes back).
        QList<QByteArray> lines = read.split('\n');
        QCOMPARE(lines.takeLast(), QByteArray());
        QCOMPARE(lines.takeLast(), QByteArray("after"));
        const QByteArray body = line.chopped(1);
        const QRegularExpression notePattern(u"^\u2026 (\\d+) lines? not shown$"_s);
        quint64 shown = 0;
        quint64 noted = 0;
        for (const QByteArray& each : std::as_const(lines)) {
            if (each == body) {
                ++shown;
                continue;
            }
            const QRegularExpressionMatch match = notePattern.match(QString::fromUtf8(each));
            QVERIFY2(match.hasMatch(), each.left(200).toPercentEncoding().constData());
            noted += match.captured(1).toULongLong();
        }
        QCOMPARE(noted, writer.droppedLines());
        QCOMPARE(shown + noted, quint64(prefilled + given));
        ::close(fds[0]);
        ::close(fds[1]);
    }

    // Standard error may be a non-blocking pipe (its flags are shared with
    // whoever else holds it). Full, it answers EAGAIN: the writer waits for
    // room instead of taking the reader for gone, and loses nothing.
    void aFullNonBlockingPipeIsWaitedFor()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC | O_NONBLOCK), 0);
        const QByteArray line = QByteArray(99, 'x') + '\n';
        const int prefilled = fillPipe(fds[1], line);
        TerminalWriter writer(fds[1]);
        QByteArray expected;
        for (int i = 0; i < 50; ++i) {
            const QByteArray numbered = "line " + QByteArray::number(i) + '\n';
            writer.write(numbered, 1);
            expected += numbered;
        }
        QVERIFY(!writer.flush(100ms)); // nothing fits yet
        QVERIFY(!writer.isBroken());

        QByteArray read;
        QTRY_VERIFY_WITH_TIMEOUT((read += drain(fds[0]), writer.flush(0ms)), Wardlamp::Test::waitMs(5000));
        read += drain(fds[0]);
        QVERIFY(!writer.isBroken());
        QCOMPARE(writer.droppedLines(), 0u);
        QCOMPARE(read, line.repeated(prefilled) + expected);
        ::close(fds[0]);
        ::close(fds[1]);
    }

    void aReaderThatLeavesEndsTheWriting()
    {
        int fds[2];
        QCOMPARE(::pipe2(fds, O_CLOEXEC), 0);
        TerminalWriter writer(fds[1]);
        ::close(fds[0]);
        writer.write("nobody reads this\n", 1);
        QTRY_VERIFY_WITH_TIMEOUT(writer.isBroken(), Wardlamp::Test::waitMs(5000));
        writer.write("nor this\n", 1); // and nothing waits for it
        QVERIFY(writer.flush(0ms));
        ::close(fds[1]);
    }

    void noteText()
    {
        QCOMPARE(TerminalWriter::droppedNote(1), QByteArray("\u2026 1 line not shown\n"));
        QCOMPARE(TerminalWriter::droppedNote(1234), QByteArray("\u2026 1234 lines not shown\n"));
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestTerminalWriter)
#include "TestTerminalWriter.moc"
