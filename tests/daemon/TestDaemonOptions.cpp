#include "daemon/DaemonOptions.h"
#include "daemon/LogPrinter.h"

#include "TestEnvironment.h"

#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;
using Wardlamp::DaemonOptions;
using Wardlamp::LogPrinter;

class TestDaemonOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // empty: parses
        QTest::addColumn<DaemonOptions>("expected");

        const DaemonOptions defaults;
        QTest::newRow("none") << QStringList() << QString() << defaults;
        DaemonOptions all = defaults;
        all.serversFile = u"list.json"_s;
        all.untilStopped = true;
        all.quiet = true;
        all.colour = DaemonOptions::Colour::never;
        all.grace = 1500ms;
        QTest::newRow("everything") << QStringList { u"--servers"_s, u"list.json"_s, u"--until-stopped"_s, u"-q"_s,
            u"--color=never"_s, u"--grace"_s, u"1.5"_s }
                                    << QString() << all;
        DaemonOptions stdinList = defaults;
        stdinList.serversFile = u"-"_s;
        QTest::newRow("standard input") << QStringList { u"-s"_s, u"-"_s } << QString() << stdinList;
        DaemonOptions zeroGrace = defaults;
        zeroGrace.grace = 0ms;
        QTest::newRow("zero grace") << QStringList { u"--grace=0"_s } << QString() << zeroGrace;
        DaemonOptions help = defaults;
        help.action = DaemonOptions::Action::showHelp;
        QTest::newRow("help wins") << QStringList { u"--quiet"_s, u"-h"_s } << QString() << help;
        DaemonOptions version = defaults;
        version.action = DaemonOptions::Action::showVersion;
        QTest::newRow("version") << QStringList { u"--version"_s } << QString() << version;

        QTest::newRow("unknown") << QStringList { u"--frobnicate"_s } << u"frobnicate"_s << defaults;
        QTest::newRow("positional") << QStringList { u"file.json"_s } << u"unexpected argument \"file.json\""_s
                                    << defaults;
        QTest::newRow("servers twice") << QStringList { u"-s"_s, u"a"_s, u"-s"_s, u"b"_s } << u"more than once"_s
                                       << defaults;
        QTest::newRow("servers empty") << QStringList { u"--servers="_s } << u"needs a file name"_s << defaults;
        QTest::newRow("grace negative") << QStringList { u"--grace=-1"_s } << u"--grace"_s << defaults;
        QTest::newRow("grace nan") << QStringList { u"--grace=nan"_s } << u"--grace"_s << defaults;
        QTest::newRow("grace huge") << QStringList { u"--grace=1e300"_s } << u"--grace"_s << defaults;
        QTest::newRow("colour unknown") << QStringList { u"--color=sometimes"_s } << u"--color"_s << defaults;
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        QFETCH(DaemonOptions, expected);
        const auto result = DaemonOptions::parse(QStringList { u"wardlampd"_s } + arguments);
        if (error.isEmpty()) {
            QVERIFY2(result, result ? "" : qPrintable(result.error()));
            QVERIFY(*result == expected);
        } else {
            QVERIFY(!result);
            QVERIFY2(result.error().contains(error), qPrintable(result.error()));
        }
    }

    void lineFormat_data()
    {
        QTest::addColumn<char>("marker");
        QTest::addColumn<bool>("colour");
        QTest::addColumn<QByteArray>("expected");
        QTest::newRow("plain") << '|' << false << QByteArray("12:34:56 api | listening on :3000\n");
        QTest::newRow("error") << '!' << false << QByteArray("12:34:56 api ! listening on :3000\n");
        QTest::newRow("status") << '=' << false << QByteArray("12:34:56 api = listening on :3000\n");
        QTest::newRow("colour") << '|' << true
                                << QByteArray("\x1b[2m12:34:56\x1b[0m \x1b[1;36mapi\x1b[0m | listening on :3000\n");
        QTest::newRow("colour error") << '!' << true
                                      << QByteArray("\x1b[2m12:34:56\x1b[0m \x1b[1;31mapi\x1b[0m ! "
                                                    "\x1b[1;31mlistening on :3000\x1b[0m\n");
    }

    void lineFormat()
    {
        QFETCH(char, marker);
        QFETCH(bool, colour);
        QFETCH(QByteArray, expected);
        QByteArray out;
        LogPrinter::appendLine(out, "12:34:56", "api", "listening on :3000", marker, colour);
        QCOMPARE(out, expected);
    }

    void timeText()
    {
        const QDateTime date(QDate(2026, 1, 2), QTime(3, 4, 5), Qt::LocalTime);
        QCOMPARE(LogPrinter::timeText(date), QByteArray("03:04:05"));
        QCOMPARE(LogPrinter::timeText(date.toUTC()), QByteArray("03:04:05")); // shown in local time
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestDaemonOptions)
#include "TestDaemonOptions.moc"
