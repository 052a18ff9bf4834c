#include "supervision/SettingsFileText.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;
using Wardlamp::SettingsFileText;

class TestSettingsFileText : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Wardlamp::Test::TestEnvironment>(); }

    void rawValue_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QByteArray>("value"); // null: not found
        const QByteArray list = R"([{"id":"x","name":"a, b"}])";
        QTest::newRow("in General") << "[General]\nwardlamp.servers=" + list + "\n" << list;
        QTest::newRow("before any section") << "wardlamp.servers=" + list + "\n[Other]\nx=1\n" << list;
        QTest::newRow("spaces around") << "[General]\nwardlamp.servers =  " + list + " \t\n" << list;
        QTest::newRow("crlf line ends") << "[General]\r\nwardlamp.servers=" + list + "\r\n" << list;
        QTest::newRow("no final line feed") << "[General]\nwardlamp.servers=" + list << list;
        QTest::newRow("last one counts") << "[General]\nwardlamp.servers=old\nwardlamp.servers=" + list + "\n" << list;
        QTest::newRow("equals sign inside") << QByteArray("[General]\nwardlamp.servers=a=b\n") << QByteArray("a=b");
        QTest::newRow("another section") << QByteArray("[Other]\nwardlamp.servers=nope\n") << QByteArray();
        QTest::newRow("back to General") << "[Other]\nwardlamp.servers=nope\n[General]\nwardlamp.servers=" + list + "\n"
                                         << list;
        QTest::newRow("a longer key") << QByteArray("[General]\nwardlamp.servers.unreadable=x\n") << QByteArray();
        QTest::newRow("comment") << QByteArray("[General]\n;wardlamp.servers=x\n") << QByteArray();
        QTest::newRow("empty value") << QByteArray("[General]\nwardlamp.servers=\n") << QByteArray("");
        QTest::newRow("empty file") << QByteArray() << QByteArray();
    }

    void rawValue()
    {
        QFETCH(QByteArray, file);
        QFETCH(QByteArray, value);
        const std::optional<QByteArray> found = SettingsFileText::rawValue(file, u"wardlamp.servers");
        QCOMPARE(found.has_value(), !value.isNull());
        if (found)
            QCOMPARE(*found, value);
    }

    void keepCopy()
    {
        const QString settings = m_environment->path(u"wardlamp.conf"_s);
        const auto first = SettingsFileText::keepCopy(settings, "one");
        QVERIFY(first);
        QCOMPARE(*first, settings + u".hand-written"_s);
        QCOMPARE(read(*first), QByteArray("one"));
        QCOMPARE(QFile::permissions(*first) & (QFile::ReadOther | QFile::ReadGroup), QFile::Permissions());
        // The same bytes again: the copy that holds them is it.
        QCOMPARE(*SettingsFileText::keepCopy(settings, "one"), *first);
        // Other bytes never replace an earlier copy.
        const auto second = SettingsFileText::keepCopy(settings, "two");
        QVERIFY(second);
        QCOMPARE(*second, settings + u".hand-written.2"_s);
        QCOMPARE(read(*first), QByteArray("one"));
        QCOMPARE(read(*second), QByteArray("two"));
        // Nowhere to write: no copy, and it says why.
        const auto nowhere = SettingsFileText::keepCopy(m_environment->path(u"missing/dir/wardlamp.conf"_s), "x");
        QVERIFY(!nowhere);
        QVERIFY2(nowhere.error().reason.contains(u"cannot write"_s), qPrintable(nowhere.error().reason));
    }

private:
    static QByteArray read(const QString& path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestSettingsFileText)
#include "TestSettingsFileText.moc"
