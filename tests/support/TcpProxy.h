#pragma once

#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QTcpServer>
#include <QUrl>

class QTcpSocket;

namespace Wardlamp::Test {

// A TCP relay of bytes on 127.0.0.1 in front of another local port, so that a
// test can cut one peer's connections (dropAll) or keep it away for a while
// (setRefusing) while everything else stays connected. Main thread.
class TcpProxy : public QObject {
    Q_OBJECT

public:
    explicit TcpProxy(QObject* parent = nullptr);
    ~TcpProxy() override;

    // Listens on any free port and forwards every connection to `targetPort`.
    bool listen(quint16 targetPort);
    quint16 port() const { return m_server.serverPort(); }
    // ws://127.0.0.1:PORT
    QUrl url() const;
    // Aborts every forwarded connection on both sides, like a lost network path.
    void dropAll();
    // While refusing, every new connection is closed at once.
    void setRefusing(bool refusing) { m_refusing = refusing; }
    int connectionCount() const { return int(m_pairs.size()); }

private:
    struct Pair {
        QTcpSocket* inner;
        QTcpSocket* outer;
    };
    void accept();
    void closePair(QTcpSocket* either);

    QTcpServer m_server;
    quint16 m_target = 0;
    bool m_refusing = false;
    QList<Pair> m_pairs;
};

} // namespace Wardlamp::Test
