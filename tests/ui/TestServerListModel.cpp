// ServerListModel over a real store and a real manager running real children,
// checked by QAbstractItemModelTester throughout.
#include "UiFixture.h"
#include "ui/models/ServerListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

QList<QUuid> idsOf(const ServerListModel& model)
{
    QList<QUuid> ids;
    for (int row = 0; row < model.rowCount(); ++row)
        ids.append(model.data(model.index(row), ServerListModel::IdRole).toUuid());
    return ids;
}

QList<QUuid> idsOf(const QList<ServerConfig>& servers)
{
    QList<QUuid> ids;
    for (const ServerConfig& server : servers)
        ids.append(server.id);
    return ids;
}

} // namespace

class TestServerListModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    void rolesOfARow()
    {
        Test::UiFixture fixture(*m_environment);
        ServerConfig named = Test::serverRecord(u"api"_s, u"bun server.js"_s);
        named.tunnelHostname = u"https://api.example.com/"_s;
        const ServerConfig unnamed = Test::serverRecord(QString(), u"npm run dev"_s);
        fixture.store().setServers({ named, unnamed });
        ServerListModel model(fixture.store(), fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

        QCOMPARE(model.rowCount(), 2);
        const QModelIndex first = model.index(0);
        QCOMPARE(model.data(first).toString(), u"api"_s);
        QCOMPARE(model.data(first, ServerListModel::TitleRole).toString(), u"api"_s);
        QCOMPARE(model.data(first, ServerListModel::CommandRole).toString(), u"bun server.js"_s);
        QCOMPARE(model.data(first, ServerListModel::StatusRole).toInt(), int(ServerStatus::stopped));
        QCOMPARE(model.data(first, ServerListModel::HasErrorRole).toBool(), false);
        QCOMPARE(model.data(first, ServerListModel::TunnelUrlRole).toUrl(), QUrl(u"https://api.example.com"_s));
        const QModelIndex second = model.index(1);
        QCOMPARE(model.data(second).toString(), u"npm run dev"_s);
        QCOMPARE(model.data(second, ServerListModel::NameRole).toString(), QString());
        QVERIFY(!model.data(second, ServerListModel::TunnelUrlRole).toUrl().isValid());
        QCOMPARE(model.rowOf(unnamed.id), 1);
        QCOMPARE(model.rowOf(QUuid::createUuid()), -1);
        QVERIFY(model.roleNames().contains(ServerListModel::StatusRole));
    }

    // Edits in the store are targeted row changes: a rename is a dataChanged
    // of its row, never a reset, so selections in the views survive.
    void followsTheStoreRowByRow()
    {
        Test::UiFixture fixture(*m_environment);
        ServerListModel model(fixture.store(), fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
        QSignalSpy moved(&model, &QAbstractItemModel::rowsMoved);

        const ServerConfig a = Test::serverRecord(u"a"_s, u"x"_s);
        const ServerConfig b = Test::serverRecord(u"b"_s, u"x"_s);
        const ServerConfig c = Test::serverRecord(u"c"_s, u"x"_s);
        fixture.store().add(a);
        fixture.store().add(b);
        fixture.store().add(c);
        QCOMPARE(inserted.size(), 3);
        QCOMPARE(idsOf(model), idsOf(fixture.store().servers()));

        const QPersistentModelIndex selected = model.index(1);
        ServerConfig renamed = b;
        renamed.name = u"b2"_s;
        fixture.store().update(renamed);
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 1);
        QCOMPARE(selected.data().toString(), u"b2"_s);

        fixture.store().update(renamed); // no change, no signal
        QCOMPARE(changed.size(), 1);

        fixture.store().remove(a.id);
        QCOMPARE(removed.size(), 1);
        QCOMPARE(selected.row(), 0);
        QCOMPARE(idsOf(model), idsOf(fixture.store().servers()));

        // A new order moves rows.
        fixture.store().setServers({ c, renamed });
        QCOMPARE(idsOf(model), idsOf(fixture.store().servers()));
        QCOMPARE(selected.data().toString(), u"b2"_s);

        // Any list at all ends up mirrored, duplicates included.
        const ServerConfig d = Test::serverRecord(u"d"_s, u"x"_s);
        const QList<QList<ServerConfig>> lists { { d, renamed, c, d }, { c }, {}, { a, b, c, d }, { d, c, b, a },
            { b, d } };
        for (const QList<ServerConfig>& list : lists) {
            fixture.store().setServers(list);
            QCOMPARE(idsOf(model), idsOf(list));
            for (int row = 0; row < list.size(); ++row)
                QCOMPARE(model.data(model.index(row), ServerListModel::NameRole).toString(), list.at(row).name);
        }
        QCOMPARE(resets.size(), 0);
        QVERIFY(moved.size() > 0);
    }

    // Status changes from real processes reach their row; a stream of output
    // that changes neither status nor error flag costs no signal at all.
    void followsTheManagerOnlyWhereItShows()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig quiet = fixture.addHolding(u"quiet"_s);
        const ServerConfig chatty = fixture.addChild(
            u"chatty"_s, { u"out:ready"_s, u"sleep:300"_s, u"lines:3000"_s, u"out:done"_s, u"hold"_s });
        ServerListModel model(fixture.store(), fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);

        fixture.manager().start(chatty);
        QCOMPARE(model.data(model.index(1), ServerListModel::StatusRole).toInt(), int(ServerStatus::running));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 1);
        QCOMPARE(changed.at(0).at(2).value<QList<int>>(),
            (QList<int> { ServerListModel::StatusRole, ServerListModel::HasErrorRole }));

        QSignalSpy stateChanges(&fixture.manager(), &ServerManager::stateChanged);
        QTRY_VERIFY_WITH_TIMEOUT(fixture.manager().state(chatty.id).logs.size() >= 2000, waitMs(20000));
        QVERIFY(stateChanges.size() > 0);
        QCOMPARE(changed.size(), 1);

        fixture.manager().stop(chatty);
        QVERIFY(fixture.waitForStatus(chatty.id, ServerStatus::stopped));
        QCOMPARE(model.data(model.index(1), ServerListModel::StatusRole).toInt(), int(ServerStatus::stopped));
        QCOMPARE(changed.size(), 2);
        QCOMPARE(model.data(model.index(0), ServerListModel::StatusRole).toInt(), int(ServerStatus::stopped));
        Q_UNUSED(quiet)
    }

    void errorFlagAndCrash()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig failing = fixture.addChild(u"failing"_s, { u"out:ready"_s, u"sleep:100"_s, u"exit:3"_s });
        ServerListModel model(fixture.store(), fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        fixture.manager().start(failing);
        QVERIFY(fixture.waitForStatus(failing.id, ServerStatus::error));
        QCOMPARE(model.data(model.index(0), ServerListModel::StatusRole).toInt(), int(ServerStatus::error));
        QCOMPARE(model.data(model.index(0), ServerListModel::HasErrorRole).toBool(),
            fixture.manager().state(failing.id).hasError);
        fixture.manager().clearLogs(failing.id);
        QCOMPARE(model.data(model.index(0), ServerListModel::StatusRole).toInt(), int(ServerStatus::stopped));
        QCOMPARE(model.data(model.index(0), ServerListModel::HasErrorRole).toBool(), false);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestServerListModel)
#include "TestServerListModel.moc"
