#pragma once

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QUrl>
#include <QWebSocketServer>

class QWebSocket;

namespace Wardlamp::Test {

// A relay that does what a desktop agent may rely on and nothing more: each
// connection joins the room of its "X-WL-Room" header in the role of its
// "X-WL-Role" header; "msg" envelopes pass unchanged from the controllers of a
// room to its agent and from the agent to every controller; the agent hears a
// "peerJoin" or "peerLeave" (with the role "controller") when a controller comes
// or goes while it is there. No "welcome", no cached snapshot, and no
// announcement of the controllers already present to an agent that joins. Plain
// ws:// on 127.0.0.1; main thread.
class LiteralRelay : public QObject {
    Q_OBJECT

public:
    explicit LiteralRelay(QObject* parent = nullptr);
    ~LiteralRelay() override;

    bool listen();
    QUrl url() const;
    // Aborts every agent connection (a lost path); controllers stay.
    void dropAgents();
    int controllerCount() const;

private:
    struct Room {
        QPointer<QWebSocket> agent;
        QList<QWebSocket*> controllers;
    };
    void accept();
    void received(QWebSocket* socket, const QString& text);
    void gone(QWebSocket* socket);

    QWebSocketServer m_server;
    QHash<QString, Room> m_rooms;
    QHash<QWebSocket*, QString> m_roomOf;
};

} // namespace Wardlamp::Test
