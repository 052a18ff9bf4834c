// LogModel and LogFilterModel over a real manager running real children,
// checked by QAbstractItemModelTester throughout: one insertion per batch,
// evictions at the front, a reset for a clear and for a new start, the
// previous run, and output of every kind.
#include "UiFixture.h"
#include "supervision/LogRing.h"
#include "ui/models/LogFilterModel.h"
#include "ui/models/LogModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using Wardlamp::Test::waitMs;

namespace {

// The model shows exactly the lines of the log, in order.
bool mirrors(const LogModel& model, const LogRing& ring)
{
    if (model.rowCount() != ring.size())
        return false;
    for (int row = 0; row < model.rowCount(); ++row) {
        if (model.seqAt(row) != ring.seqAt(row) || model.textAt(row) != ring.textAt(row))
            return false;
    }
    return true;
}

QString text(const QAbstractItemModel& model, int row)
{
    return model.data(model.index(row, 0), LogModel::TextRole).toString();
}

QString hex(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

} // namespace

class TestLogModel : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_environment = std::make_unique<Test::TestEnvironment>(); }

    // A burst of lines arrives as a few insertions at the end, never a reset
    // and never one signal per line.
    void followsTheLogBatchByBatch()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig server = fixture.addChild(u"api"_s, { u"bulk:500"_s, u"hold"_s });
        LogModel model(fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setServer(server.id);
        QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&model, &LogModel::linesChanged);

        fixture.manager().start(server);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 501, waitMs(20000));
        QVERIFY(mirrors(model, fixture.manager().state(server.id).logs));
        QCOMPARE(resets.count(), 0);
        QVERIFY2(inserted.count() < 50, qPrintable(QString::number(inserted.count())));
        QCOMPARE(changes.count(), inserted.count());
        QVERIFY(text(model, 0).startsWith(u"▶︎ Started: "_s));
        QCOMPARE(text(model, 1), u"line 1"_s);
        QCOMPARE(text(model, 500), u"line 500"_s);
        QCOMPARE(model.data(model.index(500), LogModel::SeqRole).toULongLong(), model.seqAt(500));
        QCOMPARE(model.data(model.index(500), LogModel::IsErrorRole).toBool(), false);
        QCOMPARE(model.data(model.index(500), LogModel::TimeRole).toString().size(), 8);
        QCOMPARE(model.rowOfSeq(model.seqAt(10)), 10);
        QCOMPARE(model.rowOfSeq(model.seqAt(500) + 1), -1);
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // At the cap the oldest lines leave as removals at the front, and the
    // model keeps mirroring the log.
    void evictsAtTheFrontAtTheCap()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig server = fixture.addChild(u"flood"_s, { u"lines:2600"_s, u"hold"_s });
        LogModel model(fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setServer(server.id);
        QSignalSpy removed(&model, &QAbstractItemModel::rowsRemoved);
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        fixture.manager().start(server);
        QTRY_COMPARE_WITH_TIMEOUT(text(model, model.rowCount() - 1), u"line 2600"_s, waitMs(30000));
        QCOMPARE(model.rowCount(), ServerManager::maxLogLines);
        QVERIFY(mirrors(model, fixture.manager().state(server.id).logs));
        QCOMPARE(text(model, 0), u"line 601"_s);
        QVERIFY(removed.count() > 0);
        for (const QList<QVariant>& signal : removed)
            QCOMPARE(signal.at(1).toInt(), 0);
        QCOMPARE(resets.count(), 0);
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // A clear empties the model with one reset; lines after it come as insertions.
    void clearIsOneReset()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig server = fixture.addChild(u"api"_s, { u"out:before"_s, u"hold"_s });
        LogModel model(fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setServer(server.id);
        fixture.manager().start(server);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 2, waitMs(20000));
        QSignalSpy resets(&model, &QAbstractItemModel::modelReset);
        QSignalSpy changes(&model, &LogModel::linesChanged);
        fixture.manager().clearLogs(server.id);
        QCOMPARE(resets.count(), 1);
        QCOMPARE(changes.count(), 1);
        QCOMPARE(model.rowCount(), 0);
        fixture.manager().appendLog(server.id, u"after"_s, false);
        QCOMPARE(model.rowCount(), 1);
        QCOMPARE(text(model, 0), u"after"_s);
        QVERIFY(mirrors(model, fixture.manager().state(server.id).logs));
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // A crash and the automatic restart: the current run starts afresh, the
    // previous run holds the crash's lines until the next start.
    void previousRunAfterACrash()
    {
        Test::UiFixture fixture(*m_environment);
        ServerConfig server = fixture.addChild(u"crashy"_s, { u"out:booting"_s, u"err:Error: boom"_s, u"exit:3"_s });
        server.restartOnCrash = true;
        fixture.store().update(server);
        LogModel current(fixture.manager());
        LogModel previous(fixture.manager());
        QAbstractItemModelTester currentTester(&current, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QAbstractItemModelTester previousTester(&previous, QAbstractItemModelTester::FailureReportingMode::QtTest);
        current.setServer(server.id, LogModel::Run::current);
        previous.setServer(server.id, LogModel::Run::previous);
        QCOMPARE(previous.rowCount(), 0);
        QSignalSpy previousResets(&previous, &QAbstractItemModel::modelReset);

        fixture.manager().start(server);
        // The first run crashes, the restart begins the second run's log.
        QTRY_VERIFY_WITH_TIMEOUT(fixture.manager().previousRun(server.id) != nullptr, waitMs(20000));
        QVERIFY(previousResets.count() >= 1);
        QVERIFY(mirrors(previous, fixture.manager().previousRun(server.id)->logs));
        QStringList texts;
        for (int row = 0; row < previous.rowCount(); ++row)
            texts.append(text(previous, row));
        QVERIFY2(texts.contains(u"Error: boom"_s), qPrintable(texts.join(u" | "_s)));
        QVERIFY2(texts.contains(u"✖ Server exited with code 3"_s), qPrintable(texts.join(u" | "_s)));
        QVERIFY(current.rowCount() >= 1);
        QVERIFY(text(current, 0).startsWith(u"▶︎ Started: "_s));
        QVERIFY(mirrors(current, fixture.manager().state(server.id).logs));
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // Every byte value, a 64 KiB line and escape sequences cut in half
    // across writes: each line one row, shown without control characters.
    void outputOfEveryKind()
    {
        Test::UiFixture fixture(*m_environment);
        QByteArray every;
        for (int byte = 1; byte < 256; ++byte) {
            if (byte != '\n')
                every.append(char(byte));
        }
        const QString longLine = u"lines:1:65000"_s;
        const ServerConfig server = fixture.addChild(u"noisy"_s,
            { u"raw:"_s + hex(every + "\n"), longLine, u"raw:"_s + hex("\x1b[3"), u"sleep:200"_s,
                u"raw:"_s + hex("1mred\x1b[0m\n"), u"hold"_s });
        LogModel model(fixture.manager());
        QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setServer(server.id);
        fixture.manager().start(server);
        QTRY_COMPARE_WITH_TIMEOUT(model.rowCount(), 4, waitMs(20000));
        const QString everyShown = text(model, 1);
        for (const QChar c : everyShown)
            QVERIFY2(c.unicode() >= 0x20 || c == u'\t', qPrintable(u"control %1"_s.arg(c.unicode())));
        QVERIFY(everyShown.contains(u"0123456789"_s));
        QCOMPARE(model.textAt(2).size(), 65000);
        QCOMPARE(text(model, 3), u"red"_s);
        QCOMPARE(model.data(model.index(3), LogModel::RawTextRole).toByteArray(), QByteArray("\x1b[31mred\x1b[0m"));
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

    // "Errors only" shows the error lines and follows new ones.
    void errorsOnlyFilter()
    {
        Test::UiFixture fixture(*m_environment);
        const ServerConfig server = fixture.addChild(u"api"_s,
            { u"out:fine"_s, u"err:bad one"_s, u"out:Error: in stdout"_s, u"sleep:300"_s, u"err:bad two"_s,
                u"hold"_s });
        LogModel model(fixture.manager());
        LogFilterModel errors(model);
        QAbstractItemModelTester tester(&errors, QAbstractItemModelTester::FailureReportingMode::QtTest);
        model.setServer(server.id);
        errors.setErrorsOnly(true);
        fixture.manager().start(server);
        QTRY_COMPARE_WITH_TIMEOUT(errors.rowCount(), 3, waitMs(20000));
        // (Standard output and standard error keep no order between them.)
        const QSet<QString> shown { text(errors, 0), text(errors, 1), text(errors, 2) };
        QCOMPARE(shown, (QSet<QString> { u"bad one"_s, u"Error: in stdout"_s, u"bad two"_s }));
        QCOMPARE(text(errors, 2), u"bad two"_s);
        QCOMPARE(errors.sourceRow(2), model.rowCount() - 1);
        errors.setErrorsOnly(false);
        QCOMPARE(errors.rowCount(), model.rowCount());
        fixture.manager().stop(server);
        QVERIFY(fixture.waitForStatus(server.id, ServerStatus::stopped));
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_environment;
};

QTEST_GUILESS_MAIN(TestLogModel)
#include "TestLogModel.moc"
