#include "LineLedger.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace Wardlamp;
using namespace Wardlamp::Soak;

namespace {

// Ranges "FROM..TO" joined by commas, each with "@DATE" to date every line of
// it DATE (otherwise each line's date is its sequence number); lines of server
// "s" run 1.
QList<WireLogLine> append(const QString& ranges)
{
    QList<WireLogLine> lines;
    for (const QString& part : ranges.split(u',')) {
        const QStringList dated = part.split(u'@');
        const qint64 from = dated.first().section(u".."_s, 0, 0).toLongLong();
        const qint64 to = dated.first().section(u".."_s, 1).toLongLong();
        for (qint64 seq = from; seq <= to; ++seq) {
            WireLogLine line;
            line.id = QUuid::fromString(u"00000000-0000-0000-0000-%1"_s.arg(seq, 12, 10, QChar(u'0')));
            line.date.msSinceEpoch = dated.size() > 1 ? dated.last().toDouble() : double(seq);
            line.text = u"s 1 %1 0"_s.arg(seq);
            lines.append(line);
        }
    }
    return lines;
}

} // namespace

// The judge of the soak: what a controller shows, against what the agent promises.
class TestLineLedger : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void judgesAsAControllerShows_data()
    {
        // Appends as "RANGE/EPOCH", in order of arrival; a backlog is 5 lines here.
        QTest::addColumn<QStringList>("appends");
        QTest::addColumn<qint64>("lost");
        QTest::addColumn<qint64>("outOfOrder");
        QTest::addColumn<qint64>("arrivedLate");
        QTest::addColumn<qint64>("beyondBacklog");
        QTest::newRow("in order") << QStringList { u"0..3/0"_s, u"4..9/0"_s } << 0ll << 0ll << 0ll << 0ll;
        QTest::newRow("a gap while present is lost")
            << QStringList { u"0..3/0"_s, u"6..9/0"_s } << 2ll << 0ll << 0ll << 0ll;
        QTest::newRow("away: older than the backlog was never promised")
            << QStringList { u"0..3/0"_s, u"10..15/1"_s } << 0ll << 0ll << 0ll << 6ll;
        QTest::newRow("away: a backlog shorter than promised leaves lines lost")
            << QStringList { u"0..3/0"_s, u"10..12/1"_s } << 6ll << 0ll << 0ll << 0ll;
        // The relay handed the joining controller a live append before the
        // agent's backlog: the backlog's lines take their place by date.
        QTest::newRow("away: backlog after live lines")
            << QStringList { u"0..3/0"_s, u"20..22/1"_s, u"15..22/1"_s } << 0ll << 0ll << 5ll << 11ll;
        QTest::newRow("away: live lines, backlog missing one")
            << QStringList { u"0..3/0"_s, u"20..22/1"_s, u"14..17,19..22/1"_s } << 1ll << 0ll << 5ll << 10ll;
        // A backlog too short to be known as one excuses nothing, and a long
        // live append after it is no backlog either.
        QTest::newRow("away: a long live append later is no backlog")
            << QStringList { u"0..3/0"_s, u"20..22/1"_s, u"15..17/1"_s, u"23..30/1"_s } << 13ll << 0ll << 3ll << 0ll;
        QTest::newRow("late while present is out of order, dates or not")
            << QStringList { u"0..3/0"_s, u"5..6/0"_s, u"4..4/0"_s } << 0ll << 1ll << 0ll << 0ll;
        QTest::newRow("late line dated as a later one is shown after it")
            << QStringList { u"0..3@5/0"_s, u"5..6@5/0"_s, u"4..4@5/0"_s } << 0ll << 1ll << 0ll << 0ll;
    }
    void judgesAsAControllerShows()
    {
        QFETCH(QStringList, appends);
        LineLedger ledger(5);
        for (const QString& appended : std::as_const(appends))
            ledger.take(append(appended.section(u'/', 0, 0)), appended.section(u'/', 1).toInt());
        ledger.finish();
        const LineLedger::Tally total = ledger.total();
        QTEST(total.lost, "lost");
        QTEST(total.outOfOrder, "outOfOrder");
        QTEST(total.arrivedLate, "arrivedLate");
        QTEST(total.beyondBacklog, "beyondBacklog");
        QCOMPARE(total.duplicated, 0);
    }
};

QTEST_GUILESS_MAIN(TestLineLedger)
#include "TestLineLedger.moc"
