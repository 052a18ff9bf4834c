// ControlOutbox::sendTo's budget, over a real socket pair: droppable messages
// (followed log lines) go out no further than the budget, cut anywhere and
// resumed intact; everything else goes out whatever the budget.

#include "TestEnvironment.h"
#include "control/ControlOutbox.h"

#include <QtTest>

#include <algorithm>
#include <random>
#include <vector>

#include <sys/socket.h>
#include <unistd.h>

using namespace Wardlamp;

class TestControlOutbox : public QObject {
    Q_OBJECT

private:
    int m_fds[2] = { -1, -1 };

    QByteArray readAll()
    {
        QByteArray got;
        char buffer[65536];
        ssize_t n;
        while ((n = ::recv(m_fds[1], buffer, sizeof buffer, MSG_DONTWAIT)) > 0)
            got.append(buffer, n);
        return got;
    }

    static ControlOutbox::Message lines(const QByteArray& body, int count)
    {
        return { "{\"id\":7,\"event\":", body, "}\n", count };
    }

private Q_SLOTS:
    void init() { QCOMPARE(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, m_fds), 0); }
    void cleanup()
    {
        ::close(m_fds[0]);
        ::close(m_fds[1]);
    }

    void budgetCutsFollowedLinesAnywhereAndResumes()
    {
        ControlOutbox outbox(1 << 20);
        const QByteArray first = lines(QByteArray(5000, 'a'), 10).head + QByteArray(5000, 'a') + "}\n";
        const QByteArray second = lines(QByteArray(3000, 'b'), 5).head + QByteArray(3000, 'b') + "}\n";
        QVERIFY(outbox.push(lines(QByteArray(5000, 'a'), 10)));
        QVERIFY(outbox.push(lines(QByteArray(3000, 'b'), 5)));
        QCOMPARE(outbox.droppablePushed(), quint64(2));

        qsizetype spent = 0;
        QCOMPARE(outbox.sendTo(m_fds[0], 3000, &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(spent, 3000);
        QCOMPARE(readAll(), first.left(3000));

        // Nothing left of the budget: nothing goes.
        QCOMPARE(outbox.sendTo(m_fds[0], 0, &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(spent, 3000);
        QCOMPARE(readAll(), QByteArray());

        // A cut across the end of the first message and into the second.
        QCOMPARE(outbox.sendTo(m_fds[0], first.size() - 3000 + 100, &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(readAll(), first.mid(3000) + second.left(100));

        QCOMPARE(outbox.sendTo(m_fds[0]), ControlOutbox::Sent::everything);
        QCOMPARE(readAll(), second.mid(100));
        QVERIFY(outbox.isEmpty());
    }

    void repliesGoOutWhateverTheBudget()
    {
        ControlOutbox outbox(1 << 20);
        const QByteArray reply = "{\"id\":8,\"result\":{}}\n";
        QVERIFY(outbox.push({ reply, {}, {} }));
        QVERIFY(outbox.push(lines("{\"lines\":[]}", 1)));
        QCOMPARE(outbox.droppablePushed(), quint64(1));

        qsizetype spent = 0;
        QCOMPARE(outbox.sendTo(m_fds[0], 0, &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(spent, 0);
        QCOMPARE(readAll(), reply);
        QCOMPARE(outbox.sendTo(m_fds[0], 1 << 20, &spent), ControlOutbox::Sent::everything);
        QCOMPARE(readAll(), "{\"id\":7,\"event\":{\"lines\":[]}}\n");
    }

    // A reply queued behind a message the budget cut goes out after the rest
    // of it, never into its middle.
    void aReplyBehindCutLinesWaitsForThem()
    {
        ControlOutbox outbox(1 << 20);
        const QByteArray first = lines(QByteArray(5000, 'a'), 10).head + QByteArray(5000, 'a') + "}\n";
        const QByteArray reply = "{\"id\":8,\"result\":{}}\n";
        QVERIFY(outbox.push(lines(QByteArray(5000, 'a'), 10)));
        QVERIFY(outbox.push({ reply, {}, {} }));
        qsizetype spent = 0;
        QCOMPARE(outbox.sendTo(m_fds[0], 3000, &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(readAll(), first.left(3000));
        QCOMPARE(outbox.sendTo(m_fds[0], first.size() - 3000 + 1, &spent), ControlOutbox::Sent::everything);
        QCOMPARE(readAll(), first.mid(3000) + reply);
    }

    // A budget that ends exactly with a message lets the reply behind it go
    // at once, and no further lines.
    void aReplyRightBehindLinesThatFitGoesWithThem()
    {
        ControlOutbox outbox(1 << 20);
        const ControlOutbox::Message first = lines(QByteArray(1000, 'a'), 3);
        const QByteArray reply = "{\"id\":8,\"result\":{}}\n";
        QVERIFY(outbox.push(first));
        QVERIFY(outbox.push({ reply, {}, {} }));
        QVERIFY(outbox.push(lines(QByteArray(1000, 'b'), 3)));
        qsizetype spent = 0;
        QCOMPARE(outbox.sendTo(m_fds[0], first.size(), &spent), ControlOutbox::Sent::overBudget);
        QCOMPARE(spent, first.size());
        QCOMPARE(readAll(), first.head + first.body + first.tail + reply);
    }

    // A socket that takes part of what was offered: only what it took is spent.
    void aFullSocketSpendsOnlyWhatItTook()
    {
        ControlOutbox outbox(8 << 20);
        const QByteArray body(2 << 20, 'c');
        const QByteArray whole = lines(body, 1).head + body + "}\n";
        QVERIFY(outbox.push(lines(body, 1)));
        qsizetype spent = 0;
        QByteArray got;
        while (spent < 1 << 20) {
            const qsizetype before = spent;
            const ControlOutbox::Sent sent = outbox.sendTo(m_fds[0], (1 << 20) - spent, &spent);
            const QByteArray read = readAll();
            QCOMPARE(spent - before, read.size());
            got += read;
            if (spent < 1 << 20)
                QCOMPARE(sent, ControlOutbox::Sent::wouldBlock);
        }
        QCOMPARE(got, whole.left(1 << 20));
    }

    // Random queues of tiny messages (empty pieces included) and random tiny
    // budgets, against a model of what each call must send, spend and say:
    // replies whatever the budget, lines up to it, resumed where cut.
    void sendToFollowsTheModelOfTheBudget()
    {
        std::mt19937 random(12345);
        const auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        struct Modelled {
            QByteArray bytes;
            bool droppable = false;
        };
        for (int round = 0; round < 5000; ++round) {
            cleanup();
            init();
            ControlOutbox outbox(1 << 30);
            std::vector<Modelled> model;
            QByteArray all;
            for (int i = 0, count = between(1, 6); i < count; ++i) {
                ControlOutbox::Message message { QByteArray(between(0, 3), 'h'),
                    QByteArray(between(0, 4), char('a' + i)), QByteArray(between(0, 3), 't'),
                    between(0, 2) != 0 ? 1 : 0 };
                if (message.size() == 0)
                    message.body = "x";
                model.push_back({ message.head + message.body + message.tail, message.droppable() });
                all += model.back().bytes;
                QVERIFY(outbox.push(message));
            }
            size_t front = 0;
            qsizetype offset = 0;
            QByteArray got;
            for (int call = 0; call < 40 && front < model.size(); ++call) {
                const qsizetype budget = between(0, 5);
                qsizetype left = budget;
                qsizetype expectedSpent = 0;
                QByteArray expected;
                bool overBudget = false;
                while (front < model.size()) {
                    const Modelled& message = model[front];
                    const qsizetype rest = message.bytes.size() - offset;
                    if (!message.droppable) {
                        expected += message.bytes.mid(offset);
                        ++front;
                        offset = 0;
                        continue;
                    }
                    if (left <= 0) {
                        overBudget = true;
                        break;
                    }
                    const qsizetype taken = std::min(rest, left);
                    expected += message.bytes.mid(offset, taken);
                    left -= taken;
                    expectedSpent += taken;
                    if (taken < rest) {
                        offset += taken;
                        overBudget = true;
                        break;
                    }
                    ++front;
                    offset = 0;
                }
                qsizetype spent = 0;
                const ControlOutbox::Sent sent = outbox.sendTo(m_fds[0], budget, &spent);
                const QByteArray read = readAll();
                QCOMPARE(read, expected);
                QCOMPARE(spent, expectedSpent);
                QCOMPARE(sent, overBudget ? ControlOutbox::Sent::overBudget : ControlOutbox::Sent::everything);
                got += read;
            }
            QCOMPARE(outbox.sendTo(m_fds[0]), ControlOutbox::Sent::everything);
            QCOMPARE(got + readAll(), all);
        }
    }

    // The same through a small socket: sends stop part-way, and what is
    // spent is always the lines' bytes that went out, never above the budget.
    void partialSendsSpendTheLinesThatWentOut()
    {
        std::mt19937 random(7);
        const auto between = [&](int low, int high) { return std::uniform_int_distribution<int>(low, high)(random); };
        for (int round = 0; round < 50; ++round) {
            cleanup();
            init();
            const int small = 4096;
            ::setsockopt(m_fds[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
            ::setsockopt(m_fds[1], SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
            ControlOutbox outbox(1 << 30);
            QByteArray all;
            QByteArray droppableMask; // 'd' for each byte of a droppable message
            for (int i = 0; i < 8; ++i) {
                const ControlOutbox::Message message { QByteArray(between(1, 50), 'h'),
                    QByteArray(between(0, 40000), char('a' + i)), QByteArray(between(1, 3), 't'), between(0, 2) };
                all += message.head + message.body + message.tail;
                droppableMask += QByteArray(message.size(), message.droppable() ? 'd' : 'n');
                QVERIFY(outbox.push(message));
            }
            QByteArray got;
            ControlOutbox::Sent sent = ControlOutbox::Sent::wouldBlock;
            for (int call = 0; call < 100000 && sent != ControlOutbox::Sent::everything; ++call) {
                const qsizetype budget = between(0, 30000);
                qsizetype spent = 0;
                sent = outbox.sendTo(m_fds[0], budget, &spent);
                const QByteArray read = readAll();
                QVERIFY(spent <= budget);
                QCOMPARE(spent, qsizetype(droppableMask.mid(got.size(), read.size()).count('d')));
                got += read;
                QCOMPARE(got, all.left(got.size()));
            }
            QCOMPARE(got, all);
        }
    }
};

QTEST_GUILESS_MAIN(TestControlOutbox)
#include "TestControlOutbox.moc"
