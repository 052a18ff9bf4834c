#include "TestEnvironment.h"

#include "control/ControlPaths.h"
#include "control/SupervisorLock.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace Wardlamp;
using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Role = LockHolder::Role;

class TestSupervisorLock : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Wardlamp::Test::TestEnvironment>();
        QProcessEnvironment env;
        env.insert(u"XDG_RUNTIME_DIR"_s, m_env->path(u"run"_s));
        QVERIFY(QDir().mkpath(m_env->path(u"run"_s)));
        m_environment = env;
    }

    void secondHolderIsRefusedWithTheFirstNamed()
    {
        const ControlPaths paths = pathsFor(u"one"_s);
        QVERIFY(!SupervisorLock::currentHolder(paths));
        {
            auto first = SupervisorLock::acquire(paths, Role::supervisor, u"wardlampd"_s);
            QVERIFY(first);
            const auto second = SupervisorLock::acquire(paths, Role::supervisor, u"wardlamp"_s);
            QVERIFY(!second);
            QVERIFY(second.error().holder);
            QCOMPARE(second.error().holder->pid, qint64(::getpid()));
            QCOMPARE(second.error().holder->program, u"wardlampd"_s);
            QCOMPARE(second.error().holder->role, Role::supervisor);
            QCOMPARE(second.error().holder->describe(), u"wardlampd (pid %1)"_s.arg(::getpid()));
            // An editor does not wait for a supervisor: it is told at once.
            QElapsedTimer timer;
            timer.start();
            const auto editor = SupervisorLock::acquire(paths, Role::editor, u"wardlampd"_s, 5s);
            QVERIFY(!editor);
            QVERIFY(timer.elapsed() < 3000);
            QCOMPARE(SupervisorLock::currentHolder(paths), first->holder());
        }
        // Released with the value.
        QVERIFY(!SupervisorLock::currentHolder(paths));
        QVERIFY(SupervisorLock::acquire(paths, Role::supervisor, u"wardlamp"_s));
    }

    // The kernel lets go of a killed holder's lock: a stale lock file never
    // blocks the next start.
    void staleLockFromAKilledProcessNeverBlocks()
    {
        const ControlPaths paths = pathsFor(u"killed"_s);
        const QByteArray lockFile = QFile::encodeName(paths.lockFile);
        int ready[2];
        QCOMPARE(::pipe(ready), 0);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Only system calls here: this is what a supervisor leaves when killed.
            const int fd = ::open(lockFile.constData(), O_RDWR | O_CREAT, 0600);
            ::flock(fd, LOCK_EX);
            char line[128];
            const int length = std::snprintf(
                line, sizeof line, "{\"pid\":%d,\"program\":\"wardlampd\",\"role\":\"supervisor\"}\n", int(::getpid()));
            [[maybe_unused]] auto written = ::write(fd, line, size_t(length));
            written = ::write(ready[1], "x", 1);
            for (;;)
                ::pause();
        }
        ::close(ready[1]);
        char byte = 0;
        QCOMPARE(::read(ready[0], &byte, 1), ssize_t(1));
        ::close(ready[0]);

        const auto whileAlive = SupervisorLock::acquire(paths, Role::supervisor, u"wardlampd"_s);
        QVERIFY(!whileAlive);
        QVERIFY(whileAlive.error().holder);
        QCOMPARE(whileAlive.error().holder->pid, qint64(child));

        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
        const auto afterwards = SupervisorLock::acquire(paths, Role::supervisor, u"wardlampd"_s);
        QVERIFY(afterwards);
        QCOMPARE(SupervisorLock::currentHolder(paths)->pid, qint64(::getpid()));
    }

    // Servers started while the lock is held do not inherit it: once the
    // supervisor lets go, a new one can start although they still run.
    void childrenDoNotInheritTheLock()
    {
        const ControlPaths paths = pathsFor(u"children"_s);
        QProcess sleeper;
        {
            auto lock = SupervisorLock::acquire(paths, Role::supervisor, u"wardlampd"_s);
            QVERIFY(lock);
            sleeper.start(u"sleep"_s, { u"30"_s });
            QVERIFY(sleeper.waitForStarted());
        }
        QVERIFY(SupervisorLock::acquire(paths, Role::supervisor, u"wardlampd"_s));
        sleeper.kill();
        sleeper.waitForFinished();
    }

    // A verb that edits the saved list while nothing supervises holds the lock
    // for a moment; a supervisor starting then waits for it rather than failing.
    void supervisorWaitsOutAnEditor()
    {
        const ControlPaths paths = pathsFor(u"editor"_s);
        std::atomic<bool> held = false;
        std::atomic<bool> editorDone = false;
        std::thread editor([&] {
            auto lock = SupervisorLock::acquire(paths, Role::editor, u"wardlampd"_s);
            held = lock.hasValue();
            while (!editorDone)
                std::this_thread::sleep_for(10ms);
        });
        QTRY_VERIFY(held);
        std::atomic<bool> returned = false;
        std::atomic<bool> acquired = false;
        std::thread supervisor([&] {
            acquired = SupervisorLock::acquire(paths, Role::supervisor, u"wardlamp"_s, 60s).hasValue();
            returned = true;
        });
        QTest::qWait(200);
        QVERIFY(!returned); // still waiting while the editor holds the lock
        editorDone = true;
        editor.join();
        QTRY_VERIFY_WITH_TIMEOUT(returned, 30000);
        supervisor.join();
        QVERIFY(acquired);

        // An editor that stays too long is reported, not waited for forever.
        std::atomic<bool> stuck = false;
        std::atomic<bool> release = false;
        const ControlPaths other = pathsFor(u"stuck-editor"_s);
        std::thread slowEditor([&] {
            auto lock = SupervisorLock::acquire(other, Role::editor, u"wardlampd"_s);
            stuck = lock.hasValue();
            while (!release)
                std::this_thread::sleep_for(10ms);
        });
        QTRY_VERIFY(stuck);
        const auto impatient = SupervisorLock::acquire(other, Role::supervisor, u"wardlamp"_s, 200ms);
        release = true;
        slowEditor.join();
        QVERIFY(!impatient);
        QCOMPARE(impatient.error().holder->role, Role::editor);
    }

    void holderLineRoundTrip_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("valid");
        QTest::newRow("ours") << LockHolder { 12, u"wardlamp"_s, Role::editor, u"/x/wardlamp.conf"_s }.encode() << true;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no pid") << QByteArray(R"({"program":"wardlampd","role":"supervisor"})") << false;
        QTest::newRow("pid zero") << QByteArray(R"({"pid":0,"role":"supervisor"})") << false;
        QTest::newRow("unknown role") << QByteArray(R"({"pid":3,"role":"boss"})") << false;
        QTest::newRow("half written") << QByteArray("{\"pid\":3,\"ro") << false;
    }

    void holderLineRoundTrip()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, valid);
        const auto holder = LockHolder::decode(line);
        QCOMPARE(holder.has_value(), valid);
        if (valid)
            QCOMPARE(holder->encode(), line);
    }

private:
    ControlPaths pathsFor(const QString& name)
    {
        const auto paths = ControlPaths::resolve(m_env->path(name + u"/wardlamp.conf"_s), m_environment);
        if (!paths)
            qFatal("%s", qPrintable(paths.error()));
        return *paths;
    }

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
    QProcessEnvironment m_environment;
};

QTEST_GUILESS_MAIN(TestSupervisorLock)
#include "TestSupervisorLock.moc"
