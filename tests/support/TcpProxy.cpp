#include "TcpProxy.h"

#include <QTcpSocket>

namespace Wardlamp::Test {

TcpProxy::TcpProxy(QObject* parent)
    : QObject(parent)
{
    connect(&m_server, &QTcpServer::newConnection, this, &TcpProxy::accept);
}

TcpProxy::~TcpProxy()
{
    dropAll();
}

bool TcpProxy::listen(quint16 targetPort)
{
    m_target = targetPort;
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl TcpProxy::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(port()));
}

void TcpProxy::accept()
{
    while (QTcpSocket* inner = m_server.nextPendingConnection()) {
        if (m_refusing) {
            inner->abort();
            inner->deleteLater();
            continue;
        }
        auto* outer = new QTcpSocket(this);
        inner->setParent(this);
        m_pairs.append(Pair { inner, outer });
        // Bytes that arrive before the far side is connected wait in the socket.
        connect(outer, &QTcpSocket::connected, this, [inner, outer] {
            if (inner->bytesAvailable())
                outer->write(inner->readAll());
        });
        connect(inner, &QTcpSocket::readyRead, this, [inner, outer] {
            if (outer->state() == QAbstractSocket::ConnectedState)
                outer->write(inner->readAll());
        });
        connect(outer, &QTcpSocket::readyRead, this, [inner, outer] { inner->write(outer->readAll()); });
        connect(inner, &QTcpSocket::disconnected, this, [this, inner] { closePair(inner); });
        connect(outer, &QTcpSocket::disconnected, this, [this, outer] { closePair(outer); });
        connect(inner, &QTcpSocket::errorOccurred, this, [this, inner] { closePair(inner); });
        connect(outer, &QTcpSocket::errorOccurred, this, [this, outer] { closePair(outer); });
        outer->connectToHost(QHostAddress::LocalHost, m_target);
    }
}

void TcpProxy::closePair(QTcpSocket* either)
{
    for (qsizetype i = 0; i < m_pairs.size(); ++i) {
        const Pair pair = m_pairs.at(i);
        if (pair.inner != either && pair.outer != either)
            continue;
        m_pairs.removeAt(i);
        for (QTcpSocket* socket : { pair.inner, pair.outer }) {
            socket->disconnect(this);
            // What one side sent last still reaches the other before it closes.
            if (socket != either && socket->state() == QAbstractSocket::ConnectedState) {
                QTcpSocket* from = socket == pair.inner ? pair.outer : pair.inner;
                if (from->bytesAvailable())
                    socket->write(from->readAll());
                socket->disconnectFromHost();
            } else {
                socket->abort();
            }
            socket->deleteLater();
        }
        return;
    }
}

void TcpProxy::dropAll()
{
    const QList<Pair> pairs = std::exchange(m_pairs, {});
    for (const Pair& pair : pairs) {
        for (QTcpSocket* socket : { pair.inner, pair.outer }) {
            socket->disconnect(this);
            socket->abort();
            socket->deleteLater();
        }
    }
}

} // namespace Wardlamp::Test
