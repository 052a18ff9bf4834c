#include "LiteralRelay.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QWebSocket>

namespace Wardlamp::Test {

namespace {

const QString peerJoinController = QStringLiteral(R"({"v":1,"kind":"peerJoin","role":"controller"})");
const QString peerLeaveController = QStringLiteral(R"({"v":1,"kind":"peerLeave","role":"controller"})");

} // namespace

LiteralRelay::LiteralRelay(QObject* parent)
    : QObject(parent)
    , m_server(QStringLiteral("literal relay"), QWebSocketServer::NonSecureMode)
{
    connect(&m_server, &QWebSocketServer::newConnection, this, &LiteralRelay::accept);
}

LiteralRelay::~LiteralRelay()
{
    m_server.close();
    for (QWebSocket* socket : m_roomOf.keys()) {
        socket->disconnect(this);
        socket->abort();
        delete socket;
    }
}

bool LiteralRelay::listen()
{
    return m_server.listen(QHostAddress::LocalHost, 0);
}

QUrl LiteralRelay::url() const
{
    return QUrl(QStringLiteral("ws://127.0.0.1:%1").arg(m_server.serverPort()));
}

int LiteralRelay::controllerCount() const
{
    int count = 0;
    for (const Room& room : m_rooms)
        count += int(room.controllers.size());
    return count;
}

void LiteralRelay::accept()
{
    while (QWebSocket* socket = m_server.nextPendingConnection()) {
        const QNetworkRequest request = socket->request();
        const QString roomId = QString::fromLatin1(request.rawHeader("X-WL-Room"));
        const QByteArray role = request.rawHeader("X-WL-Role");
        if (roomId.isEmpty() || (role != "agent" && role != "controller")) {
            socket->close(QWebSocketProtocol::CloseCodePolicyViolated);
            socket->deleteLater();
            continue;
        }
        m_roomOf.insert(socket, roomId);
        Room& room = m_rooms[roomId];
        if (role == "agent") {
            if (room.agent)
                room.agent->close();
            room.agent = socket;
        } else {
            room.controllers.append(socket);
            if (room.agent)
                room.agent->sendTextMessage(peerJoinController);
        }
        connect(socket, &QWebSocket::textMessageReceived, this,
            [this, socket](const QString& text) { received(socket, text); });
        connect(socket, &QWebSocket::disconnected, this, [this, socket] { gone(socket); });
    }
}

void LiteralRelay::received(QWebSocket* socket, const QString& text)
{
    const auto found = m_roomOf.constFind(socket);
    if (found == m_roomOf.cend())
        return;
    if (QJsonDocument::fromJson(text.toUtf8()).object().value(QStringLiteral("kind")).toString()
        != QStringLiteral("msg"))
        return;
    Room& room = m_rooms[*found];
    if (socket == room.agent) {
        for (QWebSocket* controller : std::as_const(room.controllers))
            controller->sendTextMessage(text);
    } else if (room.agent) {
        room.agent->sendTextMessage(text);
    }
}

void LiteralRelay::gone(QWebSocket* socket)
{
    const QString roomId = m_roomOf.take(socket);
    socket->deleteLater();
    if (roomId.isEmpty())
        return;
    Room& room = m_rooms[roomId];
    if (room.agent == socket) {
        room.agent = nullptr;
        return;
    }
    if (room.controllers.removeOne(socket) && room.agent)
        room.agent->sendTextMessage(peerLeaveController);
}

void LiteralRelay::dropAgents()
{
    for (Room& room : m_rooms) {
        if (room.agent)
            room.agent->abort();
    }
}

} // namespace Wardlamp::Test
