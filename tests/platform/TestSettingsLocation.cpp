#include "platform/SettingsLocation.h"

#include "TestEnvironment.h"

#include <QProcessEnvironment>
#include <QSettings>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Wardlamp::SettingsLocation;

class TestSettingsLocation : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void filePath_data()
    {
        QTest::addColumn<QString>("configHome"); // "-": unset
        QTest::addColumn<QString>("expected");
        QTest::newRow("unset") << u"-"_s << u"/home/u/.config/wardlamp/wardlamp.conf"_s;
        QTest::newRow("empty") << QString() << u"/home/u/.config/wardlamp/wardlamp.conf"_s;
        QTest::newRow("relative is ignored") << u"cfg"_s << u"/home/u/.config/wardlamp/wardlamp.conf"_s;
        QTest::newRow("absolute") << u"/etc/xdg/u"_s << u"/etc/xdg/u/wardlamp/wardlamp.conf"_s;
        QTest::newRow("trailing slash") << u"/cfg/"_s << u"/cfg/wardlamp/wardlamp.conf"_s;
    }

    void filePath()
    {
        QFETCH(QString, configHome);
        QFETCH(QString, expected);
        QProcessEnvironment environment;
        if (configHome != u"-"_s)
            environment.insert(u"XDG_CONFIG_HOME"_s, configHome);
        QCOMPARE(SettingsLocation::filePath(environment, u"/home/u"_s), expected);
    }

    void openWritesTheIniFile()
    {
        const QString expected = m_environment->configHome() + u"/wardlamp/wardlamp.conf"_s;
        QCOMPARE(SettingsLocation::filePath(), expected);
        {
            auto settings = SettingsLocation::open();
            QCOMPARE(settings->format(), QSettings::IniFormat);
            settings->setValue(u"wardlamp.push.enabled"_s, true);
        }
        QSettings reader(expected, QSettings::IniFormat);
        QCOMPARE(reader.value(u"wardlamp.push.enabled"_s).toBool(), true);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestSettingsLocation)
#include "TestSettingsLocation.moc"
