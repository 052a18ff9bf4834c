// The wardlamp command line, by table.
#include "app/AppOptions.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

Q_DECLARE_METATYPE(Wardlamp::AppOptions)

class TestAppOptions : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void parse_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("error"); // empty: parses
        QTest::addColumn<AppOptions>("options");

        const auto with = [](AppOptions::Action action, AppOptions::Surface surface = AppOptions::Surface::panel,
                              bool autostarted = false) {
            AppOptions options;
            options.action = action;
            options.surface = surface;
            options.autostarted = autostarted;
            return options;
        };
        using A = AppOptions::Action;
        using S = AppOptions::Surface;
        QTest::newRow("nothing") << QStringList {} << QString() << with(A::run);
        QTest::newRow("show panel") << QStringList { u"--show"_s, u"panel"_s } << QString() << with(A::show, S::panel);
        QTest::newRow("show logs") << QStringList { u"--show=logs"_s } << QString() << with(A::show, S::logs);
        QTest::newRow("show settings") << QStringList { u"--show"_s, u"settings"_s } << QString()
                                       << with(A::show, S::settings);
        QTest::newRow("quit") << QStringList { u"--quit"_s } << QString() << with(A::quit);
        QTest::newRow("autostart") << QStringList { u"--autostart"_s } << QString() << with(A::run, S::panel, true);
        QTest::newRow("help") << QStringList { u"--help"_s } << QString() << with(A::showHelp);
        QTest::newRow("version") << QStringList { u"-v"_s } << QString() << with(A::showVersion);
        QTest::newRow("show what") << QStringList { u"--show"_s, u"windows"_s }
                                   << u"--show takes panel, logs or settings, not \"windows\""_s << AppOptions {};
        QTest::newRow("show nothing") << QStringList { u"--show"_s } << u"Missing value after '--show'."_s
                                      << AppOptions {};
        QTest::newRow("show twice") << QStringList { u"--show=logs"_s, u"--show=panel"_s }
                                    << u"--show given more than once"_s << AppOptions {};
        QTest::newRow("show and quit") << QStringList { u"--show=logs"_s, u"--quit"_s }
                                       << u"--show, --quit and --autostart cannot be combined"_s << AppOptions {};
        QTest::newRow("unknown") << QStringList { u"--frobnicate"_s } << u"Unknown option 'frobnicate'."_s
                                 << AppOptions {};
        QTest::newRow("positional") << QStringList { u"logs"_s } << u"unexpected argument \"logs\""_s << AppOptions {};
    }

    void parse()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, error);
        arguments.prepend(u"wardlamp"_s);
        const auto parsed = AppOptions::parse(arguments);
        if (!error.isEmpty()) {
            QVERIFY(std::holds_alternative<QString>(parsed));
            QCOMPARE(std::get<QString>(parsed), error);
            return;
        }
        QVERIFY2(std::holds_alternative<AppOptions>(parsed),
            qPrintable(std::holds_alternative<QString>(parsed) ? std::get<QString>(parsed) : QString()));
        QTEST(std::get<AppOptions>(parsed), "options");
    }

    void helpNamesTheExitStatuses()
    {
        const QString help = AppOptions::helpText();
        QVERIFY(help.contains(u"--show <SURFACE>"_s));
        QVERIFY(help.contains(u"  4  wardlampd supervises this configuration"_s));
    }
};

QTEST_GUILESS_MAIN(TestAppOptions)
#include "TestAppOptions.moc"
