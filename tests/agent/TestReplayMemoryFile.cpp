#include "agent/ReplayMemoryFile.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Wardlamp;

class TestReplayMemoryFile : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void roundTripKeepsOrderAndNewest()
    {
        QTemporaryDir dir;
        ReplayMemoryFile file(dir.filePath(QStringLiteral("sub/replay")));
        const std::deque<QByteArray> nonces { QByteArray(12, '\x01'), QByteArray(12, '\x02'), QByteArray(12, '\n') };
        QVERIFY(file.save(nonces));
        QCOMPARE(file.load(10), (QList<QByteArray> { nonces[0], nonces[1], nonces[2] }));
        QCOMPARE(file.load(2), (QList<QByteArray> { nonces[1], nonces[2] }));
        QCOMPARE(QFile::permissions(file.path())
                & ~(QFile::ReadUser | QFile::WriteUser | QFile::ReadOwner | QFile::WriteOwner),
            QFile::Permissions());
        file.remove();
        QVERIFY(file.load(10).isEmpty());
    }

    // Whatever the file holds, it is an empty memory or the nonces it names.
    void unreadableFileIsAnEmptyMemory_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<int>("expected");
        QTest::newRow("empty") << QByteArray() << 0;
        QTest::newRow("another format") << QByteArray("hello\nAQID\n") << 0;
        QTest::newRow("bad lines skipped") << QByteArray("wardlamp-replay-memory 1\nAQID\n!!!\n\nBAUG\n") << 2;
        QTest::newRow("binary noise") << QByteArray("\x00\xff\xfe", 3) << 0;
    }

    void unreadableFileIsAnEmptyMemory()
    {
        QFETCH(QByteArray, content);
        QFETCH(int, expected);
        QTemporaryDir dir;
        QFile raw(dir.filePath(QStringLiteral("replay")));
        QVERIFY(raw.open(QIODevice::WriteOnly));
        raw.write(content);
        raw.close();
        QCOMPARE(ReplayMemoryFile(raw.fileName()).load(4096).size(), expected);
    }
};

QTEST_GUILESS_MAIN(TestReplayMemoryFile)
#include "TestReplayMemoryFile.moc"
