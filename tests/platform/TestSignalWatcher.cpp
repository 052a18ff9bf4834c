#include "platform/SignalWatcher.h"

#include <QSignalSpy>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace Wardlamp;

class TestSignalWatcher : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void signalArrivesInTheEventLoop()
    {
        const auto watcher = SignalWatcher::watch({ SIGUSR1 });
        QVERIFY(watcher);
        QSignalSpy received(watcher->get(), &SignalWatcher::received);
        QCOMPARE(::raise(SIGUSR1), 0);
        QTRY_COMPARE(received.size(), 1);
        QCOMPARE(received.at(0).at(0).toInt(), SIGUSR1);
    }

    // With no descriptor left for the self-pipe the program is told why, and no
    // handler is installed; once descriptors are free again a watcher can be made.
    void noDescriptorLeftIsReported()
    {
        rlimit saved {};
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &saved), 0);
        rlimit low = saved;
        low.rlim_cur = 256;
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
        std::vector<int> taken;
        for (int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC); fd >= 0;
             fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC))
            taken.push_back(fd);
        const auto refused = SignalWatcher::watch({ SIGUSR2 });
        for (const int fd : taken)
            ::close(fd);
        QCOMPARE(::setrlimit(RLIMIT_NOFILE, &saved), 0);

        QVERIFY(!refused);
        QVERIFY(refused.error() == std::errc::too_many_files_open);
        struct sigaction current = {};
        QCOMPARE(::sigaction(SIGUSR2, nullptr, &current), 0);
        QVERIFY(current.sa_handler == SIG_DFL);

        const auto watcher = SignalWatcher::watch({ SIGUSR2 });
        QVERIFY(watcher);
    }
};

QTEST_GUILESS_MAIN(TestSignalWatcher)
#include "TestSignalWatcher.moc"
