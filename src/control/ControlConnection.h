#pragma once

#include "control/ControlServer.h"
#include "control/LineFramer.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <memory>

class QSocketNotifier;

namespace Wardlamp {

class ControlCall;
class ControlOutbox;
class ControlWriter;
class ControlVerbs;

// One client of the control socket: reads request lines, runs them through
// the verbs, and queues what goes back. Internal to ControlServer, which owns
// it; it deletes itself (deleteLater) once closed. What goes back is queued in
// an outbox that the server's writer thread sends. Main thread.
class ControlConnection : public QObject {
    Q_OBJECT

public:
    // Reading at most this much per wake-up keeps one busy client from
    // holding the event loop.
    static constexpr qsizetype readBudget = 256 * 1024;

    ControlConnection(int fd, const ControlVerbs& verbs, const ControlServer::Options& options, ControlWriter& writer,
        QObject* parent);
    ~ControlConnection() override;

    // Queues one encoded line. False (and the connection closes) when the
    // client let the queue grow past the bound, or is gone.
    bool send(const QByteArray& line);
    // An event by its pieces, `lines` log lines that may be dropped (see ControlOutbox).
    bool sendShared(const QByteArray& head, const QByteArray& body, int lines);
    bool isClosed() const { return m_fd < 0; }

Q_SIGNALS:
    void closed();

private:
    void handleReadable();
    void handleOutboxNews();
    void handleRequestTimeout();
    void handleIdleTimeout();
    void updateIdleTimer();
    void processLines();
    void runRequest(const QByteArray& line);
    bool queued(bool pushed);
    void closeAfterFlush();
    void closeNow();
    void maybeFinishClosing();

    int m_fd;
    const ControlVerbs& m_verbs;
    const ControlServer::Options& m_options;
    QSocketNotifier* m_readNotifier;
    ControlWriter& m_writer;
    std::shared_ptr<ControlOutbox> m_outbox;
    LineFramer m_framer;
    QTimer m_requestTimer;
    QTimer m_idleTimer;
    bool m_peerDone = false; // the client sent all it will send
    bool m_closing = false; // no more requests; close once the queue is sent
    QList<QPointer<ControlCall>> m_calls;
};

} // namespace Wardlamp
