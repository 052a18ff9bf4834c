#include "agent/RelayEndpoint.h"

#include <QTest>

using namespace Wardlamp;
using namespace Qt::StringLiterals;

// The web page a relay serves, and the pairing link into it.
class TestRelayEndpoint : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void webPage_data()
    {
        QTest::addColumn<QString>("relay");
        QTest::addColumn<QString>("page");
        QTest::newRow("wss root") << u"wss://relay.example.net"_s << u"https://relay.example.net/"_s;
        QTest::newRow("wss with slash") << u"wss://relay.example.net/"_s << u"https://relay.example.net/"_s;
        QTest::newRow("under a prefix") << u"wss://example.net:8443/relay"_s << u"https://example.net:8443/relay/"_s;
        QTest::newRow("plain loopback") << u"ws://127.0.0.1:9000/"_s << u"http://127.0.0.1:9000/"_s;
        QTest::newRow("query and fragment dropped") << u"wss://h/r/?a=1#x"_s << u"https://h/r/"_s;
        QTest::newRow("user info dropped") << u"wss://me:secret@h/"_s << u"https://h/"_s;
        QTest::newRow("scheme in capitals") << u"WSS://h/"_s << u"https://h/"_s;
    }
    void webPage()
    {
        QFETCH(QString, relay);
        QFETCH(QString, page);
        QCOMPARE(RelayEndpoint::webPage(*RelayEndpoint::parse(relay)).toString(), page);
    }

    void linkCarriesTheKeyInTheFragment()
    {
        const QString key = u"WL1.eyJ2IjoxLCJuYW1lIjoiU3R1ZGlvIn0-_x"_s;
        QCOMPARE(RelayEndpoint::webPairingLink(*RelayEndpoint::parse(u"wss://relay.example.net/r"_s), key),
            u"https://relay.example.net/r/#k="_s + key);
    }
};

QTEST_GUILESS_MAIN(TestRelayEndpoint)
#include "TestRelayEndpoint.moc"
