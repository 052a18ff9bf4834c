#pragma once

#include "control/ControlProtocol.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QString>

#include <functional>

namespace Wardlamp {

// One request being answered: its verb and arguments, and the way back to the
// client. A handler answers with reply() or fail() (once; later answers are
// ignored), or keeps the call open and sends event()s until it answers (a
// followed log). When the client goes away first the call is cancelled():
// a handler that keeps a call must drop it then (or hold a QPointer).
//
// Owner: the connection the request came on (or whoever runs a verb without
// a socket); it deletes the call once it has finished or was cancelled.
// Main thread.
class ControlCall : public QObject {
    Q_OBJECT

public:
    // Takes one encoded message (a line with its "\n"); false when it can
    // take no more (the client went away or fell too far behind).
    using Writer = std::function<bool(const QByteArray& line)>;
    // Takes one event as its pieces (the call's own head, a body shared with
    // other calls, the tail) and how many log lines it carries, which may be
    // dropped for a client that falls behind; false as for Writer.
    using SharedWriter = std::function<bool(const QByteArray& head, const QByteArray& body, int lines)>;

    ControlCall(ControlRequest request, Writer writer, QObject* parent = nullptr);
    ~ControlCall() override;

    const QString& verb() const { return m_request.verb; }
    const QJsonObject& args() const { return m_request.args; }
    const QJsonValue& id() const { return m_request.id; }

    void reply(const QJsonObject& result = {});
    void fail(ControlErrorCode code, const QString& message);
    void fail(const ControlError& error) { fail(error.code, error.message); }
    // A message of a call that stays open. False once the client cannot take
    // more: the call is then cancelled.
    bool event(const QJsonObject& event);
    // The same with the event object already encoded as JSON (one encoding
    // shared by every client that follows the same log).
    bool encodedEvent(QByteArrayView eventJson);
    // The same, handed over by reference: what many clients are sent at once
    // (a followed log's lines). The client may be sent {"skipped":N} in place
    // of such events when it falls behind.
    bool sharedEvent(const QByteArray& eventJson, int lines);
    void setSharedWriter(SharedWriter writer) { m_sharedWriter = std::move(writer); }

    bool isFinished() const { return m_finished; }

    // The connection went away; emits cancelled() unless the call has finished.
    void cancel();

Q_SIGNALS:
    void finished();
    void cancelled();

private:
    bool write(const QByteArray& line);
    void finish(const QByteArray& line);

    const ControlRequest m_request;
    Writer m_writer;
    SharedWriter m_sharedWriter;
    QByteArray m_eventHead; // made on first use
    bool m_finished = false;
};

} // namespace Wardlamp
