// Which error line of one batch an alert quotes: the ranks of single lines.
// The choice within a real batch (a real Node crash) is covered by
// TestServerManager.

#include "TestEnvironment.h"
#include "supervision/AlertLine.h"

#include <QtTest>

using namespace Wardlamp;

Q_DECLARE_METATYPE(AlertLine::Rank)

class TestAlertLine : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Test::TestEnvironment>(); }

    void rank_data()
    {
        QTest::addColumn<QByteArray>("line");
        QTest::addColumn<bool>("matchedWord");
        QTest::addColumn<AlertLine::Rank>("rank");
        using R = AlertLine::Rank;
        const auto row = [](const char* name, const char* line, bool matched, R rank) {
            QTest::newRow(name) << QByteArray(line) << matched << rank;
        };
        row("node's first line", "node:events:502", false, R::errorLine);
        row("node's throw line", "      throw er; // Unhandled 'error' event", false, R::carriesWord);
        row("node's explaining line", "Error: listen EADDRINUSE: address already in use :::3000", false,
            R::leadsWithWord);
        row("stdout line found by the pattern", "GET / 500 internal error", true, R::carriesWord);
        row("bracketed level", "[ERROR] db down", false, R::leadsWithWord);
        row("indented", "  \tFATAL: out of memory", false, R::leadsWithWord);
        row("python", "Traceback (most recent call last):", false, R::leadsWithWord);
        row("go", "panic: runtime error: index out of range", false, R::leadsWithWord);
        row("word alone", "error", false, R::leadsWithWord);
        row("longer first word", "Errors: 3", false, R::errorLine);
        row("first word glued to a digit", "error2: x", false, R::errorLine);
        row("first word glued to a non-ASCII letter", "error\xc3\xb1 x", false, R::errorLine);
        row("non-ASCII letter, then the word", "caf\xc3\xa9 error", false, R::carriesWord);
        row("empty", "", false, R::errorLine);
        row("punctuation only", "--- ^ ---", false, R::errorLine);
        row("plain stderr text", "warning: deprecated option", false, R::errorLine);
    }

    void rank()
    {
        QFETCH(QByteArray, line);
        QFETCH(bool, matchedWord);
        QFETCH(AlertLine::Rank, rank);
        QCOMPARE(AlertLine::rank(line, matchedWord), rank);
    }

private:
    std::unique_ptr<Test::TestEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestAlertLine)
#include "TestAlertLine.moc"
