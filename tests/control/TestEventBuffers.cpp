// EventBuffers: an encoded batch's memory is written over only once no one
// else holds it.

#include "TestEnvironment.h"
#include "control/EventBuffers.h"

#include <QtTest>

using namespace Wardlamp;

class TestEventBuffers : public QObject {
    Q_OBJECT

private:
    static QByteArray write(EventBuffers& buffers, const QByteArray& text)
    {
        QByteArray& buffer = buffers.take();
        buffer.resize(text.size());
        std::memcpy(buffer.data(), text.constData(), size_t(text.size()));
        return buffer; // shared, as handed to the followers
    }

private Q_SLOTS:
    void heldArraysAreNeverWrittenOver()
    {
        EventBuffers buffers;
        QByteArray first = write(buffers, "first batch");
        const char* firstMemory = first.constData();
        const QByteArray second = write(buffers, "second batch");
        QVERIFY(second.constData() != firstMemory);
        QCOMPARE(first, "first batch");
        QCOMPARE(buffers.kept(), std::size_t(2));

        first = QByteArray(); // every follower let go of it
        const QByteArray third = write(buffers, "third");
        QCOMPARE(third.constData(), firstMemory);
        QCOMPARE(third, "third");
        QCOMPARE(second, "second batch");
    }

    void atMostSoManyKept()
    {
        EventBuffers buffers;
        std::vector<QByteArray> held;
        for (std::size_t i = 0; i < EventBuffers::maxKept + 3; ++i)
            held.push_back(write(buffers, "batch " + QByteArray::number(qulonglong(i))));
        QCOMPARE(buffers.kept(), EventBuffers::maxKept);
        for (std::size_t i = 0; i < held.size(); ++i)
            QCOMPARE(held[i], "batch " + QByteArray::number(qulonglong(i)));
    }

    void aBurstsArrayIsNotKept()
    {
        EventBuffers buffers;
        QByteArray burst = write(buffers, QByteArray(EventBuffers::maxKeptBytes + 1, 'x'));
        const QByteArray small = write(buffers, "small");
        QCOMPARE(buffers.kept(), std::size_t(2));
        burst = QByteArray();
        const QByteArray next = write(buffers, "next");
        QVERIFY(next.capacity() <= EventBuffers::maxKeptBytes);
        QCOMPARE(buffers.kept(), std::size_t(2));
        QCOMPARE(small, "small");
    }

    // After a flood the pool stays while arrays are taken in turn; a trickle
    // of small batches that follows needs one, and the rest are let go once
    // no batch has taken them for a while.
    void aTrickleAfterAFloodKeepsOneArray()
    {
        // Long enough that a stall of a loaded machine between two lines
        // below cannot pass it.
        const int unusedFor = Wardlamp::Test::waitMs(500);
        EventBuffers buffers { std::chrono::milliseconds(unusedFor) };
        {
            std::vector<QByteArray> flood;
            for (int i = 0; i < 5; ++i)
                flood.push_back(write(buffers, QByteArray(100000, 'x')));
        } // every follower let go
        write(buffers, "soon after");
        QCOMPARE(buffers.kept(), std::size_t(5));
        QTest::qSleep(unusedFor + 200); // time passing, not an event
        for (int i = 0; i < 3; ++i)
            write(buffers, "trickle " + QByteArray::number(i));
        QCOMPARE(buffers.kept(), std::size_t(1));
    }

    void releaseLeavesHeldArraysAlone()
    {
        EventBuffers buffers;
        const QByteArray held = write(buffers, "still being sent");
        buffers.release();
        QCOMPARE(buffers.kept(), std::size_t(0));
        QCOMPARE(held, "still being sent");
        QVERIFY(write(buffers, "new").constData() != held.constData());
    }
};

QTEST_GUILESS_MAIN(TestEventBuffers)
#include "TestEventBuffers.moc"
