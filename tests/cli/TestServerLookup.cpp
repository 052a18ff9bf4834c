#include "TestEnvironment.h"

#include "cli/ServerLookup.h"

#include <QTest>

using namespace Wardlamp;
using namespace Qt::Literals::StringLiterals;

namespace {
// Any record with an id and a name will do: wardlampd looks up its configured
// servers, wardlamp-remote the servers of a snapshot.
struct Server {
    QUuid id;
    QString name;
    QString command;
};

Server server(const char* id, const char* name)
{
    Server s;
    s.id = QUuid::fromString(QLatin1String(id));
    s.name = QString::fromUtf8(name);
    s.command = QStringLiteral("run");
    return s;
}

const QList<Server> servers {
    server("11111111-1111-1111-1111-111111111111", "api"),
    server("22222222-2222-2222-2222-222222222222", "Web"),
    server("33333333-3333-3333-3333-333333333333", "worker"),
    server("44444444-4444-4444-4444-444444444444", "Worker"),
    server("55555555-5555-5555-5555-555555555555", "dup"),
    server("66666666-6666-6666-6666-666666666666", "dup"),
};
} // namespace

class TestServerLookup : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { m_env = std::make_unique<Wardlamp::Test::TestEnvironment>(); }
    void find_data();
    void find();

private:
    std::unique_ptr<Wardlamp::Test::TestEnvironment> m_env;
};

void TestServerLookup::find_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("id"); // empty: no match
    QTest::addColumn<bool>("ambiguous");
    QTest::newRow("name") << u"api"_s << u"11111111-1111-1111-1111-111111111111"_s << false;
    QTest::newRow("name ignoring case when unique") << u"web"_s << u"22222222-2222-2222-2222-222222222222"_s << false;
    QTest::newRow("exact case wins over others") << u"Worker"_s << u"44444444-4444-4444-4444-444444444444"_s << false;
    QTest::newRow("case-insensitive but two fit") << u"WORKER"_s << u""_s << true;
    QTest::newRow("same name twice") << u"dup"_s << u""_s << true;
    QTest::newRow("id upper case") << u"66666666-6666-6666-6666-666666666666"_s
                                   << u"66666666-6666-6666-6666-666666666666"_s << false;
    QTest::newRow("id with braces") << u"{55555555-5555-5555-5555-555555555555}"_s
                                    << u"55555555-5555-5555-5555-555555555555"_s << false;
    QTest::newRow("unknown") << u"db"_s << u""_s << false;
    QTest::newRow("unknown id") << u"77777777-7777-7777-7777-777777777777"_s << u""_s << false;
    QTest::newRow("empty") << u""_s << u""_s << false;
}

void TestServerLookup::find()
{
    QFETCH(QString, text);
    QFETCH(QString, id);
    QFETCH(bool, ambiguous);
    const auto result = ServerLookup::find(servers, text);
    if (id.isEmpty()) {
        QVERIFY(!result.index);
        QCOMPARE(result.problem, ambiguous ? ServerLookup::Problem::ambiguous : ServerLookup::Problem::notFound);
        if (ambiguous)
            QCOMPARE(result.candidates.size(), 2);
    } else {
        QVERIFY(result.index);
        QCOMPARE(servers.at(*result.index).id, QUuid::fromString(id));
    }
}

QTEST_GUILESS_MAIN(TestServerLookup)
#include "TestServerLookup.moc"
