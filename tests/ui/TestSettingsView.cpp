// The settings window's content offscreen, against a real store, a real
// manager running real children, a real pairing store on a file secret store,
// a real remote agent and a real launch-at-login entry: the sidebar's add,
// remove and delete rules, editor writes reaching the saved settings file,
// the folder chooser, General's switches, and the Remote pane (sections,
// status per agent state, rotate confirm and cancel, copy label timing, the
// password written once typing pauses, a keyring that refuses writes).
#include "UiFixture.h"
#include "agent/PairingStore.h"
#include "agent/RemoteAgent.h"
#include "platform/FileSecretStore.h"
#include "platform/LoginItemManager.h"
#include "supervision/AppSettings.h"
#include "ui/models/CopyFeedback.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerEditorModel.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/models/SettingsWindowModel.h"
#include "ui/widgets/GlyphButton.h"
#include "ui/widgets/QrView.h"
#include "ui/widgets/RemoteSettingsPane.h"
#include "ui/widgets/ServerEditor.h"
#include "ui/widgets/SettingsView.h"
#include "ui/widgets/SettingsWindow.h"
#include "ui/widgets/ToggleSwitch.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMessageBox>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSignalSpy>
#include <QStackedWidget>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

// The file store, counting writes per account; it can be told to refuse
// writes, as a locked keyring does.
class CountingSecretStore : public FileSecretStore {
public:
    using FileSecretStore::FileSecretStore;
    bool write(const QString& account, const QByteArray& data) override
    {
        if (refuse)
            return false;
        ++writes[account];
        return FileSecretStore::write(account, data);
    }
    QHash<QString, int> writes;
    bool refuse = false;
};

// The app's model objects over one fixture, and the settings window's view.
struct Window {
    // Without `withAgent` no agent follows the pairing store (as while the
    // remote half is not set up), so switching on makes no secret by itself.
    Window(Test::UiFixture& fixture, const Test::TestEnvironment& environment, const QString& entryPath = {},
        bool withAgent = true)
        : secrets(environment.path(u"secrets-%1"_s.arg(QUuid::createUuid().toString(QUuid::Id128))))
        , pairingSettings(environment.path(u"pairing-%1.conf"_s.arg(QUuid::createUuid().toString(QUuid::Id128))),
              QSettings::IniFormat)
        , loginItem(entryPath.isEmpty() ? environment.path(u"autostart/wardlamp.desktop"_s) : entryPath,
              u"/usr/bin/wardlamp"_s)
        , appSettings(pairingSettings)
        , pairing(pairingSettings, QProcessEnvironment(), secrets)
        , agent(std::nullopt)
        , servers(fixture.store(), fixture.manager())
        , summary(fixture.manager())
        , commands(fixture.store(), fixture.manager())
        , models { fixture.store(), fixture.manager(), loginItem, appSettings, pairing, agent, servers, summary,
            commands }
        , window(models)
    {
        if (withAgent)
            agent.configure(fixture.store(), fixture.manager(), pairing);
        window.resize(760, 560);
    }

    bool show()
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    SettingsView& view() const { return *window.view(); }
    template <typename T> T* find(const QString& name) const
    {
        T* child = window.findChild<T*>(name);
        if (!child)
            qWarning("no child %s", qPrintable(name));
        return child;
    }
    QListView* sidebar() const { return find<QListView>(u"sidebarList"_s); }
    QWidget* detail() const { return find<QStackedWidget>(u"detail"_s)->currentWidget(); }
    QStringList sidebarTexts() const
    {
        QStringList texts;
        const QAbstractItemModel* rows = sidebar()->model();
        for (int row = 0; row < rows->rowCount(); ++row) {
            const QModelIndex index = rows->index(row, 0);
            const QVariant name = index.data(ServerListModel::NameRole);
            texts.append(name.isValid() ? (name.toString().isEmpty() ? u"Untitled"_s : name.toString())
                                        : index.data().toString());
        }
        return texts;
    }
    int selectedRow() const
    {
        const QModelIndexList selected = sidebar()->selectionModel()->selectedIndexes();
        return selected.isEmpty() ? -1 : selected.first().row();
    }
    void clickRow(int row) const
    {
        const QRect rect = sidebar()->visualRect(sidebar()->model()->index(row, 0));
        QTest::mouseClick(sidebar()->viewport(), Qt::LeftButton, {}, rect.center());
    }
    RemoteSettingsPane* openRemote()
    {
        clickRow(1);
        return view().remotePane();
    }

    CountingSecretStore secrets;
    QSettings pairingSettings;
    LoginItemManager loginItem;
    AppSettings appSettings;
    PairingStore pairing;
    RemoteAgent agent;
    ServerListModel servers;
    ServerSummary summary;
    PanelCommands commands;
    AppModels models;
    SettingsWindow window;
};

// The servers as saved in the settings file, read afresh from the disk.
QJsonArray savedServers(Test::UiFixture& fixture)
{
    fixture.settings().sync();
    QSettings reread(fixture.settings().fileName(), QSettings::IniFormat);
    const QVariant stored = reread.value(ServerStore::settingsKey);
    const QByteArray json
        = stored.typeId() == QMetaType::QByteArray ? stored.toByteArray() : stored.toString().toUtf8();
    return QJsonDocument::fromJson(json).array();
}

QJsonObject savedServer(Test::UiFixture& fixture, const QUuid& id)
{
    for (const QJsonValue& value : savedServers(fixture)) {
        const QJsonObject object = value.toObject();
        if (QUuid::fromString(object.value(u"id"_s).toString()) == id)
            return object;
    }
    return {};
}

} // namespace

class TestSettingsView : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        m_env = std::make_unique<Test::TestEnvironment>();
        QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);
    }

    void opensOnGeneralWithPanesAndServers()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        ServerConfig unnamed = Test::serverRecord(QString(), u"true"_s);
        fixture.store().add(unnamed);
        Window window(fixture, *m_env);
        QAbstractItemModelTester tester(
            window.sidebar()->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(window.show());
        QCOMPARE(window.window.windowTitle(), u"Wardlamp Settings"_s);
        QVERIFY(window.window.QWidget::minimumSize().width() >= 660
            && window.window.QWidget::minimumSize().height() >= 460);
        QVERIFY(window.find<QWidget>(u"sidebar"_s)->minimumWidth() >= 210);
        QCOMPARE(window.sidebarTexts(),
            QStringList({ u"General"_s, u"Remote access"_s, u"Servers"_s, u"api"_s, u"Untitled"_s }));
        QCOMPARE(window.view().model().selection(), SettingsSelection::general());
        QCOMPARE(window.detail()->objectName(), u"generalPane"_s);
        QCOMPARE(window.selectedRow(), 0);
        auto* add = window.find<GlyphButton>(u"addButton"_s);
        auto* remove = window.find<GlyphButton>(u"removeButton"_s);
        QCOMPARE(add->toolTip(), u"Add a server"_s);
        QCOMPARE(remove->toolTip(), u"Remove selected server"_s);
        QVERIFY(!remove->isEnabled());
        window.clickRow(1);
        QCOMPARE(window.detail()->objectName(), u"remotePane"_s);
        QVERIFY(!remove->isEnabled());
        // The heading is no choice.
        window.clickRow(2);
        QCOMPARE(window.detail()->objectName(), u"remotePane"_s);
        window.clickRow(3);
        QCOMPARE(window.view().model().selection(), SettingsSelection::server(api.id));
        QVERIFY(remove->isEnabled());
        QCOMPARE(window.find<QLabel>(u"paneTitle"_s) != nullptr, true);
        QCOMPARE(window.view().editor()->model().id(), api.id);
        // Arrow keys move through the rows, past the heading.
        window.sidebar()->setFocus();
        QTest::keyClick(window.sidebar(), Qt::Key_Up);
        QCOMPARE(window.view().model().selection(), SettingsSelection::remote());
        QTest::keyClick(window.sidebar(), Qt::Key_Down);
        QCOMPARE(window.view().model().selection(), SettingsSelection::server(api.id));
    }

    void addSelectsTheNewServersEditor()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        QTest::mouseClick(window.find<GlyphButton>(u"addButton"_s), Qt::LeftButton);
        QCOMPARE(fixture.store().servers().size(), 2);
        const ServerConfig added = fixture.store().servers().last();
        QCOMPARE(added.name, u"New Server"_s);
        QVERIFY(added.command.isEmpty());
        QVERIFY(!added.directory && !added.autostart && !added.restartOnCrash && !added.errorAlertEnabled
            && !added.tunnelHostname);
        QVERIFY(added.id != api.id);
        QCOMPARE(window.view().model().selection(), SettingsSelection::server(added.id));
        QCOMPARE(window.detail(), window.view().editor());
        QCOMPARE(window.view().editor()->model().id(), added.id);
        QCOMPARE(window.find<QLineEdit>(u"nameField"_s)->text(), u"New Server"_s);
        QCOMPARE(window.selectedRow(), 4);
        QCOMPARE(window.sidebarTexts().last(), u"New Server"_s);
        QCOMPARE(savedServer(fixture, added.id).value(u"name"_s).toString(), u"New Server"_s);
    }

    void removeStopsARunningServerAndSelectsGeneral()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        fixture.manager().start(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::running));
        const qint64 pid = *fixture.manager().state(api.id).pid;
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        QTest::mouseClick(window.find<GlyphButton>(u"removeButton"_s), Qt::LeftButton);
        QVERIFY(fixture.store().servers().isEmpty());
        QVERIFY(savedServers(fixture).isEmpty());
        QCOMPARE(window.view().model().selection(), SettingsSelection::general());
        QCOMPARE(window.detail()->objectName(), u"generalPane"_s);
        QCOMPARE(window.selectedRow(), 0);
        QVERIFY(!window.find<GlyphButton>(u"removeButton"_s)->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(Test::processGone(pid), waitMs(10000));
    }

    void deleteLeavesSelectAServer()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        const ServerConfig web = fixture.addHolding(u"web"_s);
        fixture.manager().start(api);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::running));
        const qint64 pid = *fixture.manager().state(api.id).pid;
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        QTest::mouseClick(window.find<QPushButton>(u"deleteButton"_s), Qt::LeftButton);
        QCOMPARE(fixture.store().servers().size(), 1);
        QCOMPARE(fixture.store().servers().first().id, web.id);
        QCOMPARE(window.view().model().selection(), SettingsSelection::server(api.id));
        QCOMPARE(window.detail()->objectName(), u"noServer"_s);
        QCOMPARE(window.selectedRow(), -1);
        QTRY_VERIFY_WITH_TIMEOUT(Test::processGone(pid), waitMs(10000));
        // Choosing another row goes on as usual.
        window.clickRow(3);
        QCOMPARE(window.view().editor()->model().id(), web.id);
    }

    void serverRemovedElsewhereWhileItsEditorIsOpen()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        fixture.store().remove(api.id);
        QCOMPARE(window.detail()->objectName(), u"noServer"_s);
        QVERIFY(!window.view().editor());
        QCOMPARE(window.selectedRow(), -1);
        // Minus on a server that is gone does nothing.
        QTest::mouseClick(window.find<GlyphButton>(u"removeButton"_s), Qt::LeftButton);
        QCOMPARE(window.view().model().selection(), SettingsSelection::server(api.id));
    }

    void editorWritesReachTheSavedFile()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        auto* name = window.find<QLineEdit>(u"nameField"_s);
        auto* command = window.find<QLineEdit>(u"commandField"_s);
        auto* directory = window.find<QLineEdit>(u"directoryField"_s);
        auto* title = window.view().editor()->findChild<QLabel*>(u"paneTitle"_s);
        QCOMPARE(name->placeholderText(), u"YouTube downloader"_s);
        QCOMPARE(command->placeholderText(), u"bun server.js"_s);
        QVERIFY(command->font().fixedPitch());

        name->selectAll();
        QTest::keyClicks(name, u"yt"_s);
        QCOMPARE(fixture.store().server(api.id)->name, u"yt"_s);
        QCOMPARE(savedServer(fixture, api.id).value(u"name"_s).toString(), u"yt"_s);
        QCOMPARE(title->text(), u"yt"_s);
        QCOMPARE(window.sidebarTexts().at(3), u"yt"_s);
        // One keystroke at a time reaches the file.
        QTest::keyClick(name, Qt::Key_Backspace);
        QCOMPARE(savedServer(fixture, api.id).value(u"name"_s).toString(), u"y"_s);
        QTest::keyClick(name, Qt::Key_Backspace);
        QCOMPARE(savedServer(fixture, api.id).value(u"name"_s).toString(), QString());
        QCOMPARE(title->text(), u"Untitled"_s);
        QCOMPARE(window.sidebarTexts().at(3), u"Untitled"_s);

        command->selectAll();
        QTest::keyClicks(command, u"bun server.js"_s);
        QCOMPARE(savedServer(fixture, api.id).value(u"command"_s).toString(), u"bun server.js"_s);

        QTest::keyClicks(directory, u"/tmp/my dir "_s);
        QCOMPARE(savedServer(fixture, api.id).value(u"directory"_s).toString(), u"/tmp/my dir "_s);
        directory->selectAll();
        QTest::keyClick(directory, Qt::Key_Delete);
        QVERIFY(!fixture.store().server(api.id)->directory);
        QVERIFY(!savedServer(fixture, api.id).contains(u"directory"_s)
            || savedServer(fixture, api.id).value(u"directory"_s).isNull());

        QTest::mouseClick(window.find<ToggleSwitch>(u"autostartSwitch"_s), Qt::LeftButton);
        QCOMPARE(savedServer(fixture, api.id).value(u"autostart"_s).toBool(), true);
        QTest::mouseClick(window.find<ToggleSwitch>(u"restartSwitch"_s), Qt::LeftButton);
        QCOMPARE(savedServer(fixture, api.id).value(u"restartOnCrash"_s).toBool(), true);
        QTest::mouseClick(window.find<ToggleSwitch>(u"restartSwitch"_s), Qt::LeftButton);
        QCOMPARE(savedServer(fixture, api.id).value(u"restartOnCrash"_s).toBool(), false);
    }

    void runningServerKeepsItsProcessWhenTheCommandChanges()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        auto* startStop = window.find<QPushButton>(u"startStopButton"_s);
        QCOMPARE(startStop->text(), u"Start"_s);
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::running));
        QTRY_COMPARE(startStop->text(), u"Stop"_s);
        const qint32 pid = *fixture.manager().state(api.id).pid;
        QTest::keyClicks(window.find<QLineEdit>(u"commandField"_s), u" # changed"_s);
        QVERIFY(fixture.store().server(api.id)->command.endsWith(u" # changed"_s));
        QCOMPARE(fixture.manager().state(api.id).status, ServerStatus::running);
        QCOMPARE(*fixture.manager().state(api.id).pid, pid);
        QTest::mouseClick(startStop, Qt::LeftButton);
        QVERIFY(fixture.waitForStatus(api.id, ServerStatus::stopped));
        QTRY_COMPARE(startStop->text(), u"Start"_s);
    }

    void folderChooserStoresThePathOrNothing()
    {
        Test::UiFixture fixture(*m_env);
        ServerConfig api = fixture.addHolding(u"api"_s);
        api.directory = u"/srv/old place"_s;
        fixture.store().update(api);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        QString startedIn;
        QString answer = u"/home/me/my projects/yt"_s;
        window.view().editor()->setFolderChooser([&](QWidget*, const QString& start) {
            startedIn = start;
            return answer;
        });
        auto* choose = window.find<QPushButton>(u"chooseButton"_s);
        QTest::mouseClick(choose, Qt::LeftButton);
        QCOMPARE(startedIn, u"/srv/old place"_s);
        QCOMPARE(fixture.store().server(api.id)->directory, u"/home/me/my projects/yt"_s);
        QCOMPARE(window.find<QLineEdit>(u"directoryField"_s)->text(), u"/home/me/my projects/yt"_s);
        // Cancelled: nothing changes.
        answer.clear();
        QTest::mouseClick(choose, Qt::LeftButton);
        QCOMPARE(startedIn, u"/home/me/my projects/yt"_s);
        QCOMPARE(fixture.store().server(api.id)->directory, u"/home/me/my projects/yt"_s);
    }

    void longNameDoesNotWidenTheWindow()
    {
        Test::UiFixture fixture(*m_env);
        const ServerConfig api = fixture.addHolding(u"api"_s);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        window.clickRow(3);
        const QSize before = window.window.size();
        auto* name = window.find<QLineEdit>(u"nameField"_s);
        name->selectAll();
        const QString longName = QString(10000, u'n');
        name->insert(longName);
        QCOMPARE(fixture.store().server(api.id)->name, longName);
        QCOMPARE(savedServer(fixture, api.id).value(u"name"_s).toString(), longName);
        QTest::qWait(50);
        QCOMPARE(window.window.size(), before);
        QCOMPARE(window.sidebarTexts().at(3), longName);
    }

    void loginSwitchShowsTheRealState()
    {
        Test::UiFixture fixture(*m_env);
        Window working(fixture, *m_env);
        QVERIFY(working.show());
        auto* login = working.find<ToggleSwitch>(u"loginSwitch"_s);
        QVERIFY(!login->isChecked());
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(login->isChecked());
        QVERIFY(QFile::exists(working.loginItem.entryPath()));
        QTest::mouseClick(login, Qt::LeftButton);
        QVERIFY(!login->isChecked());
        QVERIFY(!QFile::exists(working.loginItem.entryPath()));

        // An entry that cannot be written (its folder is a file): the switch stays off.
        const QString blocker = m_env->path(u"not-a-folder"_s);
        QFile file(blocker);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        Window failing(fixture, *m_env, blocker + u"/wardlamp.desktop"_s);
        QVERIFY(failing.show());
        auto* stuck = failing.find<ToggleSwitch>(u"loginSwitch"_s);
        QTest::mouseClick(stuck, Qt::LeftButton);
        QVERIFY(!stuck->isChecked());
        QVERIFY(!failing.loginItem.isEnabled());
    }

    void alertsSwitchIsBoundToPushEnabled()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        auto* alerts = window.find<ToggleSwitch>(u"alertsSwitch"_s);
        QCOMPARE(alerts->isChecked(), window.appSettings.pushEnabled());
        const bool before = alerts->isChecked();
        QTest::mouseClick(alerts, Qt::LeftButton);
        QCOMPARE(window.appSettings.pushEnabled(), !before);
        window.appSettings.setPushEnabled(before);
        QCOMPARE(alerts->isChecked(), before);
        QCOMPARE(window.find<QLabel>(u"appName"_s)->text(), u"Wardlamp"_s);
    }

    void remoteSectionsFollowTheSwitch()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        QVERIFY(pane);
        auto* toggle = pane->findChild<ToggleSwitch*>(u"remoteSwitch"_s);
        QVERIFY(!toggle->isChecked());
        QVERIFY(!pane->findChild<QWidget*>(u"statusRow"_s)->isVisible());
        QVERIFY(!pane->findChild<QLineEdit*>(u"nameField"_s)->isVisible());
        QVERIFY(!pane->findChild<QLineEdit*>(u"passwordField"_s)->isVisible());
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(window.pairing.isEnabled());
        QVERIFY(pane->findChild<QWidget*>(u"statusRow"_s)->isVisible());
        QVERIFY(pane->findChild<QLineEdit*>(u"nameField"_s)->isVisible());
        QVERIFY(pane->findChild<QLineEdit*>(u"passwordField"_s)->isVisible());
        QCOMPARE(pane->findChild<QLineEdit*>(u"passwordField"_s)->echoMode(), QLineEdit::Password);
        QVERIFY(pane->findChild<QPushButton*>(u"rotateButton"_s)->isVisible());
        QCOMPARE(pane->findChild<QLineEdit*>(u"nameField"_s)->placeholderText(), PairingStore::defaultMacName());

        // The name field writes the store key by key.
        auto* name = pane->findChild<QLineEdit*>(u"nameField"_s);
        name->selectAll();
        QTest::keyClicks(name, u"desk"_s);
        QCOMPARE(window.pairing.macName(), u"desk"_s);

        // Turning it off hides them again.
        QTest::mouseClick(toggle, Qt::LeftButton);
        QVERIFY(!window.pairing.isEnabled());
        QVERIFY(!pane->findChild<QLineEdit*>(u"nameField"_s)->isVisible());
    }

    void statusRowFollowsTheAgent()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        auto* status = pane->findChild<QLabel*>(u"statusText"_s);
        QCOMPARE(status->text(), u"Off"_s);
        // Without a relay address, enabling is an error with its own text, orange.
        window.pairing.setEnabled(true);
        QTRY_COMPARE(window.agent.state().kind, ConnectionState::Kind::error);
        QTRY_COMPARE(status->text(), window.agent.state().errorText);
        QVERIFY(!status->text().isEmpty());
        QCOMPARE(status->palette().color(QPalette::WindowText), colorFor(Tone::warning, status->palette()));
        window.pairing.setEnabled(false);
        QTRY_COMPARE(status->text(), u"Off"_s);
    }

    void rotateAsksFirst()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env, {}, false);
        window.pairing.setEnabled(true);
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        // No secret yet: only Rotate and its note.
        QVERIFY(!window.pairing.secret());
        QVERIFY(!pane->findChild<QWidget*>(u"keyRow"_s)->isVisible());
        auto* rotate = pane->findChild<QPushButton*>(u"rotateButton"_s);
        QVERIFY(rotate->isVisible());

        QTest::mouseClick(rotate, Qt::LeftButton);
        QMessageBox* confirm = pane->rotateConfirmation();
        QVERIFY(confirm);
        QCOMPARE(confirm->text(), u"Rotate the pairing key?"_s);
        QCOMPARE(confirm->informativeText(),
            u"Every device already paired with this computer will stop working and "
            "must be re-paired with the new key."_s);
        auto* yes = confirm->findChild<QPushButton*>(u"confirmRotateButton"_s);
        QCOMPARE(yes->text(), u"Rotate key"_s);
        QCOMPARE(confirm->buttonRole(yes), QMessageBox::DestructiveRole);
        auto* cancel = confirm->findChild<QPushButton*>(u"cancelRotateButton"_s);
        QCOMPARE(confirm->buttonRole(cancel), QMessageBox::RejectRole);
        QTest::mouseClick(yes, Qt::LeftButton);
        QTRY_VERIFY(!pane->rotateConfirmation());
        QVERIFY(window.pairing.secret());
        const QString first = *window.pairing.pairingKey();
        QVERIFY(pane->findChild<QWidget*>(u"keyRow"_s)->isVisible());
        QVERIFY(!pane->findChild<QrView*>(u"keyQr"_s)->image().isNull());
        QCOMPARE(pane->findChild<QLabel*>(u"keyText"_s)->accessibleName(), first);

        // Cancel changes nothing.
        QTest::mouseClick(rotate, Qt::LeftButton);
        confirm = pane->rotateConfirmation();
        QVERIFY(confirm);
        QTest::mouseClick(confirm->findChild<QPushButton*>(u"cancelRotateButton"_s), Qt::LeftButton);
        QTRY_VERIFY(!pane->rotateConfirmation());
        QCOMPARE(*window.pairing.pairingKey(), first);

        // Confirmed again: a new key, shown at once.
        QTest::mouseClick(rotate, Qt::LeftButton);
        QTest::mouseClick(
            pane->rotateConfirmation()->findChild<QPushButton*>(u"confirmRotateButton"_s), Qt::LeftButton);
        QTRY_VERIFY(!pane->rotateConfirmation());
        QVERIFY(*window.pairing.pairingKey() != first);
        QCOMPARE(pane->findChild<QLabel*>(u"keyText"_s)->accessibleName(), *window.pairing.pairingKey());
    }

    void copyKeyShowsCopiedForAMoment()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        window.pairing.setEnabled(true);
        window.pairing.ensureSecret();
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        auto* copy = pane->findChild<QPushButton*>(u"copyKeyButton"_s);
        QCOMPARE(copy->text(), u"Copy key"_s);
        QTest::mouseClick(copy, Qt::LeftButton);
        QCOMPARE(copy->text(), u"Copied"_s);
        QCOMPARE(QApplication::clipboard()->text(), *window.pairing.pairingKey());
        QTRY_COMPARE_WITH_TIMEOUT(copy->text(), u"Copy key"_s, waitMs(5000));
    }

    void copiedEndsOneDelayAfterTheFirstCopy()
    {
        CopyFeedback feedback(std::chrono::milliseconds(400));
        QElapsedTimer clock;
        clock.start();
        feedback.copy();
        QVERIFY(feedback.copied());
        QTest::qWait(200);
        feedback.copy();
        const qint64 second = clock.elapsed();
        if (second >= 380)
            QSKIP("the machine is too loaded to click twice within the delay");
        QVERIFY(feedback.copied());
        QTRY_VERIFY_WITH_TIMEOUT(!feedback.copied(), waitMs(5000));
        // The first reset cleared it, before the second's would have.
        QVERIFY2(
            clock.elapsed() < second + 400 || Test::timeoutFactor() > 1, qPrintable(QString::number(clock.elapsed())));
        QTest::qWait(400);
        QVERIFY(!feedback.copied());
    }

    void passwordIsWrittenOnceTypingPauses()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        window.pairing.setEnabled(true);
        window.pairing.ensureSecret();
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        auto* password = pane->findChild<QLineEdit*>(u"passwordField"_s);
        password->setFocus();
        QSignalSpy changes(&window.pairing, &PairingStore::passwordChanged);
        QTest::keyClicks(password, u"hunter2"_s);
        QCOMPARE(window.secrets.writes.value(u"password"_s), 0);
        QTRY_COMPARE_WITH_TIMEOUT(changes.size(), 1, waitMs(5000));
        QCOMPARE(window.secrets.writes.value(u"password"_s), 1);
        QCOMPARE(window.pairing.password(), u"hunter2"_s);
        // Ending the edit writes at once.
        QTest::keyClicks(password, u"!"_s);
        QTest::keyClick(password, Qt::Key_Return);
        QCOMPARE(window.pairing.password(), u"hunter2!"_s);
        QCOMPARE(window.secrets.writes.value(u"password"_s), 2);
        // A pending edit is kept when the window closes.
        QTest::keyClicks(password, u"?"_s);
        window.view().model().select(SettingsSelection::general());
        QTRY_VERIFY(!window.view().remotePane());
        QCOMPARE(window.pairing.password(), u"hunter2!?"_s);
    }

    void keyringRefusingWritesIsShown()
    {
        Test::UiFixture fixture(*m_env);
        Window window(fixture, *m_env);
        window.pairing.setEnabled(true);
        window.pairing.ensureSecret();
        const QString before = *window.pairing.pairingKey();
        QVERIFY(window.show());
        RemoteSettingsPane* pane = window.openRemote();
        auto* problem = pane->findChild<QLabel*>(u"storeProblem"_s);
        QVERIFY(!problem->isVisible());
        window.secrets.refuse = true;
        auto* password = pane->findChild<QLineEdit*>(u"passwordField"_s);
        QTest::keyClicks(password, u"pw"_s);
        QTest::keyClick(password, Qt::Key_Return);
        QVERIFY(problem->isVisible());
        QVERIFY(problem->text().contains(u"password"_s));
        // The value typed is in use, and the key is still there.
        QCOMPARE(window.pairing.password(), u"pw"_s);
        QCOMPARE(*window.pairing.pairingKey(), before);
        QCOMPARE(password->text(), u"pw"_s);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_MAIN(TestSettingsView)
#include "TestSettingsView.moc"
