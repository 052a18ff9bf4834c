// The settings window with the remote agent live, and wardlamp-remote as the
// controller through a real relay: a rename typed in the server editor
// reaches the controller, and after "Rotate key" is confirmed in the Remote
// pane the controller holding the old key reaches nobody.
#include "RelayProcess.h"
#include "TestEnvironment.h"
#include "agent/PairingStore.h"
#include "agent/RemoteAgent.h"
#include "platform/FileSecretStore.h"
#include "platform/LoginItemManager.h"
#include "supervision/AppSettings.h"
#include "supervision/ErrorAlertService.h"
#include "supervision/ServerManager.h"
#include "supervision/ServerStore.h"
#include "ui/models/PanelCommands.h"
#include "ui/models/ServerListModel.h"
#include "ui/models/ServerSummary.h"
#include "ui/models/SettingsWindowModel.h"
#include "ui/widgets/RemoteSettingsPane.h"
#include "ui/widgets/SettingsView.h"
#include "ui/widgets/SettingsWindow.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

struct Result {
    int exitCode = -1;
    QString out;
};

} // namespace

class TestSettingsEndToEnd : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void renameReachesTheControllerAndRotationLocksItOut();

private:
    // Runs wardlamp-remote with the key while this process's event loop (and
    // so its agent) keeps running.
    Result remote(const QString& key, const QStringList& arguments);
    // `ls --json` until a server of the id has the name, or the wait ends.
    bool waitForName(const QString& key, const QUuid& id, const QString& name);

    Test::RelayProcess m_relay;
};

Result TestSettingsEndToEnd::remote(const QString& key, const QStringList& arguments)
{
    QProcess process;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"WL_REMOTE_KEY"_s, key);
    env.insert(u"WL_RELAY_URL"_s, m_relay.url().toString());
    env.remove(u"WL_REMOTE_PASSWORD"_s);
    process.setProcessEnvironment(env);
    process.start(Test::program(u"wardlamp-remote"_s), arguments);
    process.closeWriteChannel();
    QElapsedTimer clock;
    clock.start();
    while (process.state() != QProcess::NotRunning && clock.elapsed() < waitMs(60000))
        QTest::qWait(20);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return { process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
        QString::fromUtf8(process.readAllStandardOutput()) };
}

bool TestSettingsEndToEnd::waitForName(const QString& key, const QUuid& id, const QString& name)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < waitMs(60000)) {
        const Result ls = remote(key, { u"ls"_s, u"--json"_s });
        if (ls.exitCode == 0) {
            const QJsonArray servers = QJsonDocument::fromJson(ls.out.toUtf8()).object().value(u"servers"_s).toArray();
            for (const QJsonValue& server : servers) {
                const QJsonObject object = server.toObject();
                if (QUuid::fromString(object.value(u"id"_s).toString()) == id
                    && object.value(u"name"_s).toString() == name)
                    return true;
            }
        }
        QTest::qWait(200);
    }
    return false;
}

void TestSettingsEndToEnd::renameReachesTheControllerAndRotationLocksItOut()
{
    Test::TestEnvironment environment;
    QVERIFY2(m_relay.start(), qPrintable(m_relay.errorText()));

    QSettings settings(environment.path(u"settings.conf"_s), QSettings::IniFormat);
    ServerStore store(settings, QProcessEnvironment());
    ErrorAlertService alerts;
    ServerManager::Options options;
    options.loginShell = u"/bin/sh"_s;
    options.alertService = &alerts;
    ServerManager manager(options);
    LoginItemManager loginItem(environment.path(u"autostart/wardlamp.desktop"_s), u"/usr/bin/wardlamp"_s);
    AppSettings appSettings(settings);
    FileSecretStore secrets(environment.path(u"secrets"_s));
    PairingStore pairing(settings, QProcessEnvironment(), secrets);
    RemoteAgent agent(m_relay.url());
    ServerListModel servers(store, manager);
    ServerSummary summary(manager);
    PanelCommands commands(store, manager);
    const AppModels models { store, manager, loginItem, appSettings, pairing, agent, servers, summary, commands };

    ServerConfig api;
    api.id = QUuid::createUuid();
    api.name = u"api"_s;
    api.command = u"true"_s;
    store.add(api);
    pairing.setMacName(u"e2e-desk"_s);
    pairing.setEnabled(true);
    agent.configure(store, manager, pairing);
    QTRY_COMPARE_WITH_TIMEOUT(agent.state().kind, ConnectionState::Kind::online, waitMs(30000));
    const QString oldKey = *pairing.pairingKey();
    QVERIFY(waitForName(oldKey, api.id, u"api"_s));

    SettingsWindow window(models);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    // The rename, typed in the editor.
    window.view()->model().select(SettingsSelection::server(api.id));
    auto* name = window.view()->findChild<QLineEdit*>(u"nameField"_s);
    QVERIFY(name);
    name->selectAll();
    QTest::keyClicks(name, u"renamed api"_s);
    QCOMPARE(store.server(api.id)->name, u"renamed api"_s);
    QVERIFY(waitForName(oldKey, api.id, u"renamed api"_s));

    // The rotation, confirmed in the Remote pane.
    window.view()->model().select(SettingsSelection::remote());
    RemoteSettingsPane* pane = window.view()->remotePane();
    QVERIFY(pane);
    QTest::mouseClick(pane->findChild<QPushButton*>(u"rotateButton"_s), Qt::LeftButton);
    QVERIFY(pane->rotateConfirmation());
    QTest::mouseClick(pane->rotateConfirmation()->findChild<QPushButton*>(u"confirmRotateButton"_s), Qt::LeftButton);
    const QString newKey = *pairing.pairingKey();
    QVERIFY(newKey != oldKey);

    // The new key works once the agent is in its new room ...
    QVERIFY(waitForName(newKey, api.id, u"renamed api"_s));
    // ... and the old one reaches nobody: no desktop answers in its room.
    const Result old = remote(oldKey, { u"ls"_s, u"--json"_s, u"--timeout"_s, u"3"_s });
    QCOMPARE(old.exitCode, 5);
    QVERIFY(!old.out.contains(u"renamed api"_s));
}

QTEST_MAIN(TestSettingsEndToEnd)
#include "TestSettingsEndToEnd.moc"
