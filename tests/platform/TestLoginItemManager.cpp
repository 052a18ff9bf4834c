// Launch at login as an XDG autostart entry, on real files: what each kind of
// entry file reads as, and what switching does to it.
#include "../supervision/StandardErrorCapture.h"
#include "TestEnvironment.h"
#include "platform/AutostartEntry.h"
#include "platform/LoginItemManager.h"

#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSignalSpy>
#include <QTest>

#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace Wardlamp;

Q_DECLARE_METATYPE(Wardlamp::AutostartEntry::State)

namespace {

const QString program = u"/opt/wardlamp/bin/wardlamp"_s;

QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void write(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

QByteArray ours(const QByteArray& extra = {})
{
    return "[Desktop Entry]\nType=Application\nName=Wardlamp\nExec=/usr/bin/wardlamp --autostart\n" + extra;
}

} // namespace

class TestLoginItemManager : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    void init()
    {
        m_folder = m_environment->path(u"autostart-%1"_s.arg(++m_counter));
        m_entry = m_folder + u"/wardlamp.desktop"_s;
    }

    void entryPathFollowsXdgConfigHome()
    {
        QProcessEnvironment environment;
        environment.insert(u"XDG_CONFIG_HOME"_s, u"/x/config"_s);
        QCOMPARE(
            LoginItemManager::defaultEntryPath(environment, u"/home/me"_s), u"/x/config/autostart/wardlamp.desktop"_s);
        environment.insert(u"XDG_CONFIG_HOME"_s, u"relative"_s);
        QCOMPARE(LoginItemManager::defaultEntryPath(environment, u"/home/me"_s),
            u"/home/me/.config/autostart/wardlamp.desktop"_s);
    }

    void classify_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<AutostartEntry::State>("state");
        QTest::newRow("ours") << ours() << AutostartEntry::State::enabled;
        QTest::newRow("ours, as we write it") << AutostartEntry::content(program) << AutostartEntry::State::enabled;
        QTest::newRow("ours, moved elsewhere")
            << QByteArray("[Desktop Entry]\nExec=\"/home/me/My Apps/wardlamp\"\n") << AutostartEntry::State::enabled;
        QTest::newRow("ours, hidden by the desktop") << ours("Hidden=true\n") << AutostartEntry::State::disabled;
        QTest::newRow("ours, switched off by GNOME")
            << ours("X-GNOME-Autostart-enabled=false\n") << AutostartEntry::State::disabled;
        QTest::newRow("Hidden=false is on") << ours("Hidden=false\n") << AutostartEntry::State::enabled;
        QTest::newRow("CRLF line ends") << QByteArray(ours("Hidden=true\n").replace("\n", "\r\n"))
                                        << AutostartEntry::State::disabled;
        QTest::newRow("keys of another group do not count")
            << ours("[Desktop Action x]\nHidden=true\n") << AutostartEntry::State::enabled;
        QTest::newRow("another program's")
            << QByteArray("[Desktop Entry]\nExec=/usr/bin/syncthing -no-browser\n") << AutostartEntry::State::foreign;
        QTest::newRow("a program merely called like ours")
            << QByteArray("[Desktop Entry]\nExec=/usr/bin/wardlamp-helper\n") << AutostartEntry::State::foreign;
        QTest::newRow("no Exec") << QByteArray("[Desktop Entry]\nName=Wardlamp\n") << AutostartEntry::State::foreign;
        QTest::newRow("garbage") << QByteArray("\x00\xff\xfe", 3) << AutostartEntry::State::foreign;
        QTest::newRow("unclosed quote") << QByteArray("[Desktop Entry]\nExec=\"/usr/bin/wardlamp\n")
                                        << AutostartEntry::State::foreign;
    }

    void classify()
    {
        QFETCH(QByteArray, content);
        QTEST(AutostartEntry::classify(content), "state");
    }

    void execValueRoundTrips_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << u"/usr/bin/wardlamp"_s << u"/usr/bin/wardlamp --autostart"_s;
        QTest::newRow("spaces") << u"/home/me/My Apps/wardlamp"_s << u"\"/home/me/My Apps/wardlamp\" --autostart"_s;
        QTest::newRow("quote, dollar, backquote, backslash")
            << u"/tmp/a\"b$c`d\\e/wardlamp"_s << u"\"/tmp/a\\\\\"b\\\\$c\\\\`d\\\\\\\\e/wardlamp\" --autostart"_s;
        QTest::newRow("percent") << u"/tmp/100%/wardlamp"_s << u"/tmp/100%%/wardlamp --autostart"_s;
    }

    void execValueRoundTrips()
    {
        QFETCH(QString, path);
        const QString value = AutostartEntry::execValue(path, { u"--autostart"_s });
        QTEST(value, "value");
        QCOMPARE(AutostartEntry::execProgram(value), std::optional<QString>(path));
        QCOMPARE(AutostartEntry::classify(AutostartEntry::content(path)), AutostartEntry::State::enabled);
    }

    // The table of entry files: what each reads as, and what switching on and
    // off does to it (the file afterwards, the result, the failure line).
    void toggle_data()
    {
        QTest::addColumn<QByteArray>("before"); // "-" for no file
        QTest::addColumn<bool>("enabledBefore");
        QTest::addColumn<bool>("wanted");
        QTest::addColumn<bool>("result");
        QTest::addColumn<QByteArray>("after"); // "-" for no file, "ours" for what we write
        QTest::addColumn<bool>("enabledAfter");

        const QByteArray none = "-";
        const QByteArray written = "ours";
        const QByteArray foreign = "[Desktop Entry]\nExec=/usr/bin/syncthing\n";
        QTest::newRow("absent, on") << none << false << true << true << written << true;
        QTest::newRow("absent, off") << none << false << false << true << none << false;
        QTest::newRow("ours, on: written afresh for this program") << ours() << true << true << true << written << true;
        QTest::newRow("ours, off: removed") << ours() << true << false << true << none << false;
        QTest::newRow("ours hidden, on: the user asks for it")
            << ours("Hidden=true\n") << false << true << true << written << true;
        QTest::newRow("ours hidden, off: removed") << ours("Hidden=true\n") << false << false << true << none << false;
        QTest::newRow("another program's, on: refused, kept") << foreign << false << true << false << foreign << false;
        QTest::newRow("another program's, off: kept") << foreign << false << false << true << foreign << false;
    }

    void toggle()
    {
        QFETCH(QByteArray, before);
        QFETCH(bool, wanted);
        QFETCH(QByteArray, after);
        if (before != "-")
            write(m_entry, before);

        LoginItemManager manager(m_entry, program);
        QTEST(manager.isEnabled(), "enabledBefore");
        QCOMPARE(manager.property("isEnabled").toBool(), manager.isEnabled());
        QSignalSpy changed(&manager, &LoginItemManager::isEnabledChanged);

        Test::StandardErrorCapture capture;
        const bool result = manager.setEnabled(wanted);
        const QByteArray err = capture.take();
        QTEST(result, "result");
        QTEST(manager.isEnabled(), "enabledAfter");
        if (after == "-")
            QVERIFY(!QFile::exists(m_entry));
        else
            QCOMPARE(readAll(m_entry), after == "ours" ? AutostartEntry::content(program) : after);
        if (result) {
            QCOMPARE(err, QByteArray());
        } else {
            QVERIFY2(err.startsWith("Wardlamp: login item toggle failed: "), err.constData());
            QCOMPARE(err.count('\n'), 1);
        }
        QFETCH(bool, enabledBefore);
        QCOMPARE(changed.size(), enabledBefore != manager.isEnabled() ? 1 : 0);
        // The truth is on disk: a fresh reader agrees.
        QCOMPARE(LoginItemManager(m_entry, program).isEnabled(), manager.isEnabled());
    }

    // A folder that cannot be written: the switch fails with one line and
    // keeps showing the truth.
    void unwritableFolder()
    {
        // Root writes through permissions; /proc/self is a folder nobody can add to.
        const bool root = ::geteuid() == 0;
        const QString folder = root ? u"/proc/self"_s : m_folder;
        if (!root) {
            QDir().mkpath(folder);
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner);
        }
        LoginItemManager manager(folder + u"/wardlamp.desktop"_s, program);
        QVERIFY(!manager.isEnabled());
        QSignalSpy changed(&manager, &LoginItemManager::isEnabledChanged);
        Test::StandardErrorCapture capture;
        QVERIFY(!manager.setEnabled(true));
        const QByteArray err = capture.take();
        QVERIFY2(err.startsWith("Wardlamp: login item toggle failed: cannot write "), err.constData());
        QCOMPARE(err.count('\n'), 1);
        QVERIFY(!manager.isEnabled());
        QCOMPARE(changed.size(), 0);
        if (!root)
            QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    // A file where the autostart folder should be.
    void folderCannotBeCreated()
    {
        write(m_folder, "not a folder");
        LoginItemManager manager(m_folder + u"/wardlamp.desktop"_s, program);
        Test::StandardErrorCapture capture;
        QVERIFY(!manager.setEnabled(true));
        QCOMPARE(capture.take(),
            QByteArray("Wardlamp: login item toggle failed: cannot create the folder ") + m_folder.toUtf8() + '\n');
        QVERIFY(!manager.isEnabled());
        QCOMPARE(readAll(m_folder), QByteArray("not a folder"));
    }

    void refreshSeesChangesMadeElsewhere()
    {
        LoginItemManager manager(m_entry, program);
        QVERIFY(!manager.isEnabled());
        QSignalSpy changed(&manager, &LoginItemManager::isEnabledChanged);
        write(m_entry, ours());
        manager.refresh();
        QVERIFY(manager.isEnabled());
        write(m_entry, ours("Hidden=true\n"));
        manager.refresh();
        QVERIFY(!manager.isEnabled());
        QCOMPARE(changed.size(), 2);
        manager.refresh();
        QCOMPARE(changed.size(), 2);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
    QString m_folder;
    QString m_entry;
    int m_counter = 0;
};

QTEST_GUILESS_MAIN(TestLoginItemManager)
#include "TestLoginItemManager.moc"
