#include "supervision/AppSettings.h"

#include "TestEnvironment.h"

#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace Qt::StringLiterals;
using Wardlamp::AppSettings;

class TestAppSettings : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void init() { m_path = m_environment->path(u"app-%1.conf"_s.arg(++m_counter)); }

    void defaultsToFalseAndPersists()
    {
        {
            QSettings settings(m_path, QSettings::IniFormat);
            AppSettings app(settings);
            QCOMPARE(app.pushEnabled(), false);
            QSignalSpy changed(&app, &AppSettings::pushEnabledChanged);
            app.setPushEnabled(true);
            QCOMPARE(changed.size(), 1);
            QCOMPARE(changed.at(0).at(0).toBool(), true);
            app.setPushEnabled(true); // same value: no signal
            QCOMPARE(changed.size(), 1);

            // Written through: another reader sees it while this one lives.
            QSettings other(m_path, QSettings::IniFormat);
            QCOMPARE(other.value(AppSettings::pushEnabledKey).toBool(), true);
        }
        {
            QSettings settings(m_path, QSettings::IniFormat); // "after a restart"
            AppSettings app(settings);
            QCOMPARE(app.pushEnabled(), true);
            QCOMPARE(app.property("pushEnabled").toBool(), true);
            app.setPushEnabled(false);
        }
        QSettings settings(m_path, QSettings::IniFormat);
        QCOMPARE(AppSettings(settings).pushEnabled(), false);
    }

    void handEditedValues_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("read");
        QTest::newRow("true") << QVariant(u"true"_s) << true;
        QTest::newRow("TRUE") << QVariant(u"TRUE"_s) << true;
        QTest::newRow("false") << QVariant(u"false"_s) << false;
        QTest::newRow("garbage") << QVariant(u"garbage"_s) << false;
        QTest::newRow("empty") << QVariant(QString()) << false;
        QTest::newRow("list") << QVariant(QStringList { u"true"_s, u"x"_s }) << false;
    }

    void handEditedValues()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, read);
        {
            QSettings settings(m_path, QSettings::IniFormat);
            settings.setValue(AppSettings::pushEnabledKey, stored);
        }
        QSettings settings(m_path, QSettings::IniFormat);
        QCOMPARE(AppSettings(settings).pushEnabled(), read);
    }

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
    QString m_path;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestAppSettings)
#include "TestAppSettings.moc"
