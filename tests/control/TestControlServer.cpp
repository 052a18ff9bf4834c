#include "RawControlClient.h"
#include "TestEnvironment.h"

#include "control/ControlCall.h"
#include "control/ControlClient.h"
#include "control/ControlServer.h"
#include "control/ControlVerbs.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace Wardlamp;
using namespace Wardlamp::Test;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

Q_DECLARE_METATYPE(Wardlamp::ControlErrorCode)

// The control socket over a real Unix socket: what a client that misbehaves
// gets, and that the server outlives it.
class TestControlServer : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<TestEnvironment>();
        m_verbs.add(u"echo"_s, [](ControlCall& call) { call.reply(call.args()); });
        m_verbs.add(u"follow"_s, [this](ControlCall& call) {
            // Sends an event every few milliseconds until the client goes.
            auto* timer = new QTimer(&call);
            QPointer<ControlCall> guard(&call);
            connect(timer, &QTimer::timeout, &call, [guard] {
                if (guard)
                    guard->event({ { u"line"_s, QString(4096, u'x') } });
            });
            connect(&call, &ControlCall::cancelled, this, [this] { ++m_cancelled; });
            timer->start(2);
        });
        // Kept open; the test hands it events as a followed log would.
        m_verbs.add(u"stream"_s, [this](ControlCall& call) {
            m_streams.append(&call);
            call.event({ { u"started"_s, true } });
        });
    }

    void init()
    {
        m_socket = m_env->path(u"s%1.sock"_s.arg(++m_count));
        m_server = std::make_unique<ControlServer>(m_verbs, options());
        QCOMPARE(m_server->listen(m_socket), std::nullopt);
    }

    void cleanup() { m_server.reset(); }

    void helloThenAnswers()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.isConnected());
        QTRY_COMPARE(client.messages().size(), 1);
        const ControlMessage hello = client.messages().first();
        QCOMPARE(hello.kind, ControlMessage::Kind::hello);
        QCOMPARE(hello.hello.program, u"wardlamp-test"_s);
        QCOMPARE(hello.hello.pid, QCoreApplication::applicationPid());
        QCOMPARE(hello.hello.versions, QList<int> { ControlProtocol::version });

        // Two requests in one write, answered in order.
        QVERIFY(client.send(R"({"v":1,"id":1,"verb":"echo","args":{"a":1}})"
                            "\n"
                            R"({"v":1,"id":2,"verb":"echo","args":{"b":2}})"
                            "\n"));
        QTRY_COMPARE(client.messages().size(), 3);
        QCOMPARE(client.messages().at(1).id, QJsonValue(1));
        QCOMPARE(client.messages().at(1).result.value(u"a"_s).toInt(), 1);
        QCOMPARE(client.messages().at(2).id, QJsonValue(2));
        QVERIFY(!QFileInfo(m_socket).permissions().testAnyFlags(
            QFile::ReadGroup | QFile::WriteGroup | QFile::ReadOther | QFile::WriteOther));
    }

    void malformedRequestsGetAnErrorAndTheConnectionGoesOn_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<ControlErrorCode>("code");
        QTest::newRow("not json") << QByteArray("ls --json") << ControlErrorCode::badRequest;
        QTest::newRow("binary") << QByteArray("\x00\x01\xff\xfe", 4) << ControlErrorCode::badRequest;
        QTest::newRow("array") << QByteArray("[]") << ControlErrorCode::badRequest;
        QTest::newRow("no version") << QByteArray(R"({"verb":"echo"})") << ControlErrorCode::badRequest;
        QTest::newRow("future version") << QByteArray(R"({"v":9,"verb":"echo"})")
                                        << ControlErrorCode::unsupportedVersion;
        QTest::newRow("no verb") << QByteArray(R"({"v":1})") << ControlErrorCode::badRequest;
        QTest::newRow("unknown verb") << QByteArray(R"({"v":1,"verb":"launch-missiles"})")
                                      << ControlErrorCode::unknownVerb;
        QTest::newRow("deeply nested") << QByteArray(100000, '[') << ControlErrorCode::badRequest;
    }

    void malformedRequestsGetAnErrorAndTheConnectionGoesOn()
    {
        QFETCH(QByteArray, line);
        QFETCH(ControlErrorCode, code);
        RawControlClient client(m_socket);
        QVERIFY(client.send(QByteArray(line + '\n')));
        QTRY_COMPARE(client.messages().size(), 2);
        QCOMPARE(client.messages().at(1).kind, ControlMessage::Kind::reply);
        QVERIFY(!client.messages().at(1).ok);
        QCOMPARE(client.messages().at(1).error.code, code);
        QVERIFY(client.send(R"({"v":1,"id":5,"verb":"echo"})"
                            "\n"));
        QTRY_COMPARE(client.messages().size(), 3);
        QVERIFY(client.messages().at(2).ok);
        QVERIFY(!client.closedByServer());
    }

    void oversizedRequestIsRefusedAndClosed()
    {
        RawControlClient client(m_socket);
        const QByteArray chunk(1024 * 1024, 'a');
        qsizetype sent = 0;
        // Sent as fast as the server reads (well within the time a request
        // may take); it closes once the bound is passed.
        QElapsedTimer timer;
        timer.start();
        while (!client.closedByServer() && timer.elapsed() < waitMs(30000)) {
            sent += client.sendSome(chunk);
            QCoreApplication::processEvents();
        }
        QVERIFY(client.closedByServer());
        QVERIFY(sent > ControlProtocol::maxRequestBytes);
        const QList<ControlMessage> messages = client.messages();
        QVERIFY(!messages.isEmpty());
        QCOMPARE(messages.last().error.code, ControlErrorCode::tooLarge);
        QTRY_COMPARE(m_server->connectionCount(), 0);
        stillServes();
    }

    void halfSentRequestTimesOut()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.send("{\"v\":1,\"verb\":\"ec"));
        QTRY_VERIFY_WITH_TIMEOUT(client.closedByServer(), waitMs(5000));
        QCOMPARE(client.messages().last().error.code, ControlErrorCode::incomplete);
        stillServes();
    }

    // Trickling the rest of a request a byte at a time does not buy more time.
    void tricklingDoesNotExtendTheTimeout()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.send("{"));
        QElapsedTimer timer;
        timer.start();
        while (!client.closedByServer() && timer.elapsed() < waitMs(5000)) {
            client.sendSome(" ");
            QTest::qWait(20);
        }
        QVERIFY(client.closedByServer());
        QVERIFY2(timer.elapsed() < options().requestTimeout.count() * 3, qPrintable(QString::number(timer.elapsed())));
    }

    void halfSentRequestThenHangUp()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.send(R"({"v":1,"id":1,"verb":"echo"})"
                            "\n"
                            R"({"v":1,"verb":)"));
        client.shutdownWrite();
        QTRY_VERIFY(client.closedByServer());
        // The whole request was answered; the half one was not run.
        QCOMPARE(client.messages().size(), 3);
        QVERIFY(client.messages().at(1).ok);
        QCOMPARE(client.messages().at(2).error.code, ControlErrorCode::incomplete);
        stillServes();
    }

    // A client that sends and then only listens (its write side shut) still
    // gets every answer before the server closes.
    void answersReachAClientThatShutItsWriteSide()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.send(R"({"v":1,"id":1,"verb":"echo","args":{"x":1}})"
                            "\n"));
        client.shutdownWrite();
        QTRY_VERIFY(client.closedByServer());
        QCOMPARE(client.messages().size(), 2);
        QCOMPARE(client.messages().at(1).result.value(u"x"_s).toInt(), 1);
    }

    // A follower that shuts its write side keeps its stream, and the
    // connection waits for the call's end without keeping the main thread
    // busy (it once asked the outbox for an "empty" notice in a loop).
    void followerThatShutItsWriteSideLeavesTheMainThreadIdle()
    {
        m_streams.clear();
        RawControlClient follower(m_socket);
        QVERIFY(follower.send(R"({"v":1,"id":1,"verb":"stream"})"
                              "\n"));
        QTRY_COMPARE(m_streams.size(), 1);
        QTRY_VERIFY(follower.messages().size() >= 2);
        follower.shutdownWrite();
        QTest::qWait(200);
        const auto cpuMs = [] {
            rusage usage {};
            ::getrusage(RUSAGE_SELF, &usage);
            return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000.0
                + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000.0;
        };
        const double before = cpuMs();
        QElapsedTimer wall;
        wall.start();
        QTest::qWait(1000);
        const double busy = (cpuMs() - before) / double(wall.elapsed());
        QVERIFY2(busy < 0.3, qPrintable(u"the process used %1% of a core while idle"_s.arg(busy * 100)));

        QVERIFY(!follower.closedByServer());
        QVERIFY(m_streams.first()->sharedEvent("{\"seq\":1}", 1));
        QTRY_COMPARE(lastSeq(follower), 1);
        m_streams.first()->reply();
        QTRY_VERIFY(follower.closedByServer());
    }

    // A client that asks and never reads: what waits for it is bounded, then
    // it is dropped; others are served meanwhile.
    void clientThatNeverReadsIsDropped()
    {
        RawControlClient client(m_socket);
        const QByteArray request = "{\"v\":1,\"verb\":\"echo\",\"args\":{\"pad\":\"" + QByteArray(1000, 'p') + "\"}}\n";
        const QByteArray burst = request.repeated(100);
        QTRY_VERIFY_WITH_TIMEOUT((client.sendSome(burst), m_server->connectionCount() == 0), waitMs(30000));
        stillServes();
    }

    // A followed stream to a client that stops reading is dropped the same
    // way, and the call is cancelled, not left streaming.
    void followerThatStopsReadingIsDropped()
    {
        const int cancelledBefore = m_cancelled;
        RawControlClient client(m_socket);
        QVERIFY(client.send(R"({"v":1,"id":1,"verb":"follow"})"
                            "\n"));
        QTRY_VERIFY(client.messages().size() >= 3);
        QTRY_VERIFY_WITH_TIMEOUT(m_server->connectionCount() == 0, waitMs(30000));
        QCOMPARE(m_cancelled, cancelledBefore + 1);
    }

    void followerThatLeavesCancelsItsCall()
    {
        const int cancelledBefore = m_cancelled;
        {
            RawControlClient client(m_socket);
            QVERIFY(client.send(R"({"v":1,"id":1,"verb":"follow"})"
                                "\n"));
            QTRY_VERIFY(client.messages().size() >= 3);
        }
        QTRY_COMPARE(m_cancelled, cancelledBefore + 1);
        QTRY_COMPARE(m_server->connectionCount(), 0);
    }

    // Two followers of one stream, one of which reads nothing: the other gets
    // its events, the manager's side hands everything over without waiting,
    // and the one that fell behind is still there, its oldest lines replaced
    // by a count. Both see what they get in order, and every line is either
    // received or counted as skipped.
    void stuckFollowerHoldsUpNeitherOthersNorTheMainThread()
    {
        m_streams.clear();
        RawControlClient stuck(m_socket);
        RawControlClient reader(m_socket);
        for (RawControlClient* client : { &stuck, &reader })
            QVERIFY(client->send(R"({"v":1,"id":7,"verb":"stream"})"
                                 "\n"));
        QTRY_COMPARE(m_streams.size(), 2);
        QTRY_VERIFY(stuck.messages().size() == 2 && reader.messages().size() == 2);

        // 8 MiB for each, 32 times the bound of what may wait for a client.
        constexpr int total = 8000;
        for (int seq = 1; seq <= total; ++seq) {
            const QByteArray body = paddedEvent(seq);
            for (const QPointer<ControlCall>& stream : std::as_const(m_streams))
                QVERIFY(stream && stream->sharedEvent(body, 1));
        }
        QTRY_VERIFY_WITH_TIMEOUT(lastSeq(reader) == total, waitMs(30000));
        QCOMPARE(accounted(reader), total);
        stillServes();
        QTRY_COMPARE(m_server->connectionCount(), 2);

        // The stuck one reads at last: the newest event, and a count for what it lost.
        QTRY_VERIFY_WITH_TIMEOUT(lastSeq(stuck) == total, waitMs(30000));
        QCOMPARE(accounted(stuck), total);
        QVERIFY(skippedIn(stuck) > 0);
        QVERIFY(!stuck.closedByServer());
    }

    // Followers of a flood are held to a shared rate while it lasts (their
    // turns are TestControlWriter's): once it is over, each catches up to the
    // newest event, every line received or counted as skipped.
    void followersOfAFloodAllCatchUpOnceItEnds()
    {
        m_streams.clear();
        std::vector<std::unique_ptr<RawControlClient>> followers;
        for (int i = 0; i < 12; ++i) {
            followers.push_back(std::make_unique<RawControlClient>(m_socket));
            QVERIFY(followers.back()->send(R"({"v":1,"id":7,"verb":"stream"})"
                                           "\n"));
        }
        QTRY_COMPARE(m_streams.size(), 12);
        QTRY_VERIFY(std::ranges::all_of(followers, [](auto& f) { return f->messages().size() == 2; }));

        // 4 MiB for each, in batches that keep coming while the clients read.
        constexpr int total = 4000;
        for (int seq = 1; seq <= total; ++seq) {
            const QByteArray body = paddedEvent(seq);
            for (const QPointer<ControlCall>& stream : std::as_const(m_streams))
                QVERIFY(stream && stream->sharedEvent(body, 1));
            if (seq % 100 == 0) {
                for (auto& follower : followers)
                    follower->messages();
                QCoreApplication::processEvents();
            }
        }
        for (auto& follower : followers) {
            QTRY_VERIFY_WITH_TIMEOUT(lastSeq(*follower) == total, waitMs(30000));
            QCOMPARE(accounted(*follower), total);
            QVERIFY(!follower->closedByServer());
        }
    }

    // A follower slower than the stream but within the bound loses nothing.
    void followerWithinTheBoundGetsEverything()
    {
        m_streams.clear();
        RawControlClient client(m_socket);
        QVERIFY(client.send(R"({"v":1,"id":7,"verb":"stream"})"
                            "\n"));
        QTRY_COMPARE(m_streams.size(), 1);
        constexpr int total = 100; // about 100 KiB, under the bound
        for (int seq = 1; seq <= total; ++seq)
            QVERIFY(m_streams.first()->sharedEvent(paddedEvent(seq), 1));
        QTRY_COMPARE(lastSeq(client), total);
        QCOMPARE(accounted(client), total);
        QCOMPARE(skippedIn(client), 0);
    }

    // A client that says nothing is closed once the idle time is up, with a
    // reason, and so is one whose last answer has gone out; one that follows
    // a stream is not idle, however long the stream is quiet.
    void idleConnectionIsClosedButAFollowerIsNot()
    {
        ControlServer::Options quick = options();
        quick.idleTimeout = std::chrono::milliseconds(waitMs(300));
        m_socket = m_env->path(u"s%1.sock"_s.arg(++m_count));
        m_server = std::make_unique<ControlServer>(m_verbs, quick);
        QCOMPARE(m_server->listen(m_socket), std::nullopt);
        m_streams.clear();

        RawControlClient silent(m_socket);
        RawControlClient asked(m_socket);
        RawControlClient follower(m_socket);
        QVERIFY(asked.send(R"({"v":1,"id":1,"verb":"echo"})"
                           "\n"));
        QVERIFY(follower.send(R"({"v":1,"id":2,"verb":"stream"})"
                              "\n"));
        QTRY_VERIFY_WITH_TIMEOUT(silent.closedByServer(), waitMs(10000));
        QCOMPARE(silent.messages().size(), 2);
        QCOMPARE(silent.messages().at(1).error.code, ControlErrorCode::incomplete);
        QVERIFY2(silent.messages().at(1).error.message.startsWith(u"no request came for "_s),
            qPrintable(silent.messages().at(1).error.message));
        QTRY_VERIFY_WITH_TIMEOUT(asked.closedByServer(), waitMs(10000));
        QCOMPARE(asked.messages().size(), 3); // hello, the answer, the reason

        // Three idle times more, the follower is still served.
        QTest::qWait(int(3 * quick.idleTimeout.count()));
        QVERIFY(!follower.closedByServer());
        QCOMPARE(m_streams.size(), 1);
        QVERIFY(m_streams.first()->sharedEvent("{\"seq\":1}", 1));
        QTRY_COMPARE(lastSeq(follower), 1);
    }

    // Fault: the idle time ran while a long answer was still queued for a
    // client reading it slowly (a log into a pager), which then found an
    // error after its answer and the connection closed.
    void clientStillReadingItsAnswerIsNotIdle()
    {
        ControlServer::Options quick = options();
        quick.idleTimeout = std::chrono::milliseconds(waitMs(300));
        quick.maxQueuedBytes = 16 * 1024 * 1024;
        m_socket = m_env->path(u"s%1.sock"_s.arg(++m_count));
        m_server = std::make_unique<ControlServer>(m_verbs, quick);
        QCOMPARE(m_server->listen(m_socket), std::nullopt);
        m_streams.clear();

        RawControlClient reader(m_socket);
        QVERIFY(reader.send(R"({"v":1,"id":7,"verb":"stream"})"
                            "\n"));
        QTRY_COMPARE(m_streams.size(), 1);
        // 4 MiB: far more than the socket holds, so most of it waits queued.
        constexpr int total = 4000;
        for (int seq = 1; seq <= total; ++seq)
            QVERIFY(m_streams.first()->sharedEvent(paddedEvent(seq), 1));
        m_streams.first()->reply();
        // Three idle times pass while the client reads nothing.
        QTest::qWait(int(3 * quick.idleTimeout.count()));
        QTRY_VERIFY_WITH_TIMEOUT(reader.messages().size() >= total + 3, waitMs(30000));
        QElapsedTimer sinceRead;
        sinceRead.start();
        QCOMPARE(reader.messages().size(), total + 3);
        QCOMPARE(lastSeq(reader), total);
        const ControlMessage answer = reader.messages().at(total + 2);
        QCOMPARE(answer.kind, ControlMessage::Kind::reply);
        QVERIFY(answer.ok);
        QVERIFY(!reader.closedByServer());
        // Read to the end, it is idle now, and closed an idle time later (the
        // time runs from the last bytes going out, which can come a polling
        // step before this client read them).
        QTRY_VERIFY_WITH_TIMEOUT(reader.closedByServer(), waitMs(10000));
        QVERIFY2(sinceRead.elapsed() >= quick.idleTimeout.count() / 2,
            qPrintable(u"closed %1 ms after the answer was read"_s.arg(sinceRead.elapsed())));
        QCOMPARE(reader.messages().size(), total + 4);
        QVERIFY(reader.messages().last().error.message.startsWith(u"no request came for "_s));
    }

    void tooManyConnectionsAreRefused()
    {
        std::vector<std::unique_ptr<RawControlClient>> clients;
        for (int i = 0; i < options().maxConnections; ++i) {
            clients.push_back(std::make_unique<RawControlClient>(m_socket));
            QVERIFY(clients.back()->isConnected());
        }
        QTRY_COMPARE(m_server->connectionCount(), options().maxConnections);
        RawControlClient extra(m_socket);
        QTRY_VERIFY(extra.closedByServer());
        QCOMPARE(extra.messages().size(), 1);
        QCOMPARE(extra.messages().first().error.code, ControlErrorCode::refused);
        clients.clear();
        QTRY_COMPARE(m_server->connectionCount(), 0);
        stillServes();
    }

    // A process of another uid that was handed a way to the socket (here:
    // the test opens the socket up) is still turned away.
    void anotherUsersConnectionIsRefused()
    {
        if (::geteuid() != 0)
            QSKIP("needs root to run a client under another uid");
        const QString setpriv = QStandardPaths::findExecutable(u"setpriv"_s);
        if (setpriv.isEmpty())
            QSKIP("setpriv is not installed");
        // Somewhere uid 65534 can reach.
        const QString open = u"/tmp/wardlamp-control-test-%1"_s.arg(QCoreApplication::applicationPid());
        QDir().mkpath(open);
        ::chmod(QFile::encodeName(open).constData(), 0755);
        const QString socket = open + u"/open.sock"_s;
        ControlServer server(m_verbs, options());
        QSignalSpy refused(&server, &ControlServer::connectionRefused);
        QCOMPARE(server.listen(socket), std::nullopt);
        ::chmod(QFile::encodeName(socket).constData(), 0666);

        QProcess probe;
        probe.start(setpriv,
            { u"--reuid=65534"_s, u"--regid=65534"_s, u"--clear-groups"_s, program(u"wl-control-probe"_s), socket,
                uR"({"v":1,"id":1,"verb":"echo"})"_s });
        QVERIFY(probe.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(probe.state() == QProcess::NotRunning, waitMs(10000));
        QDir(open).removeRecursively();
        const QByteArray out = probe.readAllStandardOutput();
        if (probe.exitCode() == 3)
            QSKIP(qPrintable(u"uid 65534 cannot connect here: "_s + QString::fromUtf8(probe.readAllStandardError())));
        QCOMPARE(probe.exitCode(), 0);
        const auto message = ControlMessage::parse(out.trimmed());
        QVERIFY2(message, out.constData());
        QCOMPARE(message->error.code, ControlErrorCode::refused);
        QVERIFY2(message->error.message.contains(u"uid 65534"_s), qPrintable(message->error.message));
        QCOMPARE(out.count('\n'), 1); // no hello, no answer to the request
        QCOMPARE(refused.size(), 1);
    }

    // The blocking client of the command-line front doors, against the real server.
    void blockingClientCallsAndFollows()
    {
        std::optional<ControlMessage> reply;
        std::atomic<int> events = 0;
        std::atomic<bool> done = false;
        std::thread user([&] {
            auto client = ControlClient::connect(m_socket, 10s);
            if (!client) {
                done = true;
                return;
            }
            auto answer = client->call(u"echo"_s, { { u"k"_s, u"v"_s } }, {}, 10s);
            if (answer)
                reply = *answer;
            // A followed call: read three events, then leave.
            client->sendRaw(R"({"v":1,"id":99,"verb":"follow"})"
                            "\n");
            while (events < 3) {
                auto message = client->read(10s);
                if (!message)
                    break;
                events += message->kind == ControlMessage::Kind::event ? 1 : 0;
            }
            done = true;
        });
        QTRY_VERIFY_WITH_TIMEOUT(done, waitMs(20000));
        user.join();
        QVERIFY(reply);
        QVERIFY(reply->ok);
        QCOMPARE(reply->result.value(u"k"_s).toString(), u"v"_s);
        QCOMPARE(events.load(), 3);
    }

    void clientWithoutAServer()
    {
        const auto client = ControlClient::connect(m_env->path(u"nobody-listens.sock"_s), 1s);
        QVERIFY(!client);
        QCOMPARE(client.error().problem, ControlClient::Problem::noServer);
        m_server.reset();
        QVERIFY(!QFile::exists(m_socket)); // the server removed its socket
        const auto afterwards = ControlClient::connect(m_socket, 1s);
        QVERIFY(!afterwards);
        QCOMPARE(afterwards.error().problem, ControlClient::Problem::noServer);
    }

private:
    ControlServer::Options options() const
    {
        ControlServer::Options options;
        options.program = u"wardlamp-test"_s;
        options.maxConnections = 16;
        options.maxQueuedBytes = 256 * 1024;
        options.requestTimeout = std::chrono::milliseconds(waitMs(500));
        return options;
    }

    // The server goes on answering after whatever happened to a client.
    void stillServes()
    {
        RawControlClient client(m_socket);
        QVERIFY(client.send(R"({"v":1,"id":"after","verb":"echo"})"
                            "\n"));
        QTRY_COMPARE(client.messages().size(), 2);
        QVERIFY(client.messages().at(1).ok);
    }

    // A followed-log event of about 1 KiB carrying `seq`.
    static QByteArray paddedEvent(int seq)
    {
        static const QByteArray pad(1000, 'p');
        return "{\"seq\":" + QByteArray::number(seq) + ",\"pad\":\"" + pad + "\"}";
    }

    // The seq of the last event received (0 before any).
    static int lastSeq(RawControlClient& client)
    {
        const QList<ControlMessage>& messages = client.messages();
        for (qsizetype i = messages.size() - 1; i >= 0; --i) {
            if (messages.at(i).event.contains(u"seq"_s))
                return messages.at(i).event.value(u"seq"_s).toInt();
        }
        return 0;
    }

    static int skippedIn(RawControlClient& client)
    {
        int skipped = 0;
        for (const ControlMessage& message : client.messages())
            skipped += message.event.value(u"skipped"_s).toInt();
        return skipped;
    }

    // Events received plus lines counted as skipped; fails the test if the
    // events are out of order or a gap is not accounted for.
    static int accounted(RawControlClient& client)
    {
        int expected = 1;
        int pendingSkip = 0;
        for (const ControlMessage& message : client.messages()) {
            if (message.kind != ControlMessage::Kind::event)
                continue;
            if (message.event.contains(u"skipped"_s)) {
                pendingSkip += message.event.value(u"skipped"_s).toInt();
                continue;
            }
            if (!message.event.contains(u"seq"_s))
                continue;
            const int seq = message.event.value(u"seq"_s).toInt();
            if (seq != expected + pendingSkip) {
                qWarning() << "event" << seq << "where" << expected + pendingSkip << "was due";
                return -1;
            }
            expected = seq + 1;
            pendingSkip = 0;
        }
        return expected - 1 + pendingSkip;
    }

    std::unique_ptr<TestEnvironment> m_env;
    QList<QPointer<ControlCall>> m_streams;
    ControlVerbs m_verbs;
    std::unique_ptr<ControlServer> m_server;
    QString m_socket;
    int m_count = 0;
    int m_cancelled = 0;
};

QTEST_GUILESS_MAIN(TestControlServer)
#include "TestControlServer.moc"
