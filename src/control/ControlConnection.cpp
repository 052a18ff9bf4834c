#include "ControlConnection.h"

#include "control/ControlCall.h"
#include "control/ControlOutbox.h"
#include "control/ControlVerbs.h"
#include "control/ControlWriter.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

ControlConnection::ControlConnection(
    int fd, const ControlVerbs& verbs, const ControlServer::Options& options, ControlWriter& writer, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_verbs(verbs)
    , m_options(options)
    , m_readNotifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
    , m_writer(writer)
    , m_outbox(std::make_shared<ControlOutbox>(options.maxQueuedBytes))
    , m_framer(ControlProtocol::maxRequestBytes)
{
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ControlConnection::handleReadable);
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(m_options.requestTimeout);
    connect(&m_requestTimer, &QTimer::timeout, this, &ControlConnection::handleRequestTimeout);
    m_idleTimer.setSingleShot(true);
    m_idleTimer.setInterval(m_options.idleTimeout);
    connect(&m_idleTimer, &QTimer::timeout, this, &ControlConnection::handleIdleTimeout);
    m_outbox->setNotifyTarget(
        this, [](QObject* target) { static_cast<ControlConnection*>(target)->handleOutboxNews(); });
    m_writer.add(fd, m_outbox);
    send(ControlMessage::encodeHello(
        ControlHello { m_options.program, QCoreApplication::applicationPid(), { ControlProtocol::version } }));
    updateIdleTimer();
}

ControlConnection::~ControlConnection()
{
    closeNow();
}

bool ControlConnection::send(const QByteArray& line)
{
    if (m_fd < 0)
        return false;
    return queued(m_outbox->push(ControlOutbox::Message { {}, line, {} }));
}

bool ControlConnection::sendShared(const QByteArray& head, const QByteArray& body, int lines)
{
    if (m_fd < 0)
        return false;
    static const QByteArray tail = QByteArrayLiteral("}\n");
    return queued(m_outbox->push(ControlOutbox::Message { head, body, tail, lines }));
}

bool ControlConnection::queued(bool pushed)
{
    if (!pushed) {
        // Too much waits that cannot be dropped, or the client is gone.
        closeNow();
        return false;
    }
    m_writer.wake();
    return true;
}

void ControlConnection::handleOutboxNews()
{
    if (m_fd < 0)
        return;
    if (m_outbox->isBroken()) {
        closeNow();
        return;
    }
    maybeFinishClosing();
    updateIdleTimer();
}

void ControlConnection::handleReadable()
{
    // Anything the client sends counts as life.
    m_idleTimer.stop();
    char buffer[64 * 1024];
    qsizetype budget = readBudget;
    while (budget > 0 && m_fd >= 0 && !m_closing) {
        const ssize_t received = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (received < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                break;
            closeNow();
            return;
        }
        if (received == 0) {
            // The client has said all it will say; it may still read the answers.
            m_peerDone = true;
            m_readNotifier->setEnabled(false);
            break;
        }
        budget -= received;
        if (!m_framer.append(QByteArrayView(buffer, received))) {
            m_readNotifier->setEnabled(false);
            send(ControlMessage::encodeError(QJsonValue(),
                ControlError { ControlErrorCode::tooLarge,
                    u"a request is larger than %1 MiB; closing"_s.arg(ControlProtocol::maxRequestBytes >> 20) }));
            closeAfterFlush();
            return;
        }
        processLines();
    }
    if (m_fd < 0)
        return;
    if (m_peerDone && m_framer.hasPartialLine()) {
        send(ControlMessage::encodeError(QJsonValue(),
            ControlError { ControlErrorCode::incomplete, u"the connection ended in the middle of a request"_s }));
        closeAfterFlush();
        return;
    }
    if (m_framer.hasPartialLine()) {
        // The time a request may take is counted from its first byte, so a
        // client trickling a byte at a time gains nothing.
        if (!m_requestTimer.isActive())
            m_requestTimer.start();
    } else {
        m_requestTimer.stop();
    }
    if (m_peerDone)
        closeAfterFlush();
    updateIdleTimer();
}

void ControlConnection::processLines()
{
    while (m_fd >= 0 && !m_closing) {
        std::optional<QByteArray> line = m_framer.takeLine();
        if (!line)
            return;
        // A line has ended: the next one gets its own time.
        m_requestTimer.stop();
        if (!line->trimmed().isEmpty())
            runRequest(*line);
    }
}

void ControlConnection::runRequest(const QByteArray& line)
{
    QJsonValue id;
    Expected<ControlRequest, ControlError> request = ControlRequest::parse(line, &id);
    if (!request) {
        send(ControlMessage::encodeError(id, request.error()));
        return;
    }
    QPointer<ControlConnection> self(this);
    auto* call = new ControlCall(
        std::move(*request), [self](const QByteArray& reply) { return self && self->send(reply); }, this);
    call->setSharedWriter([self](const QByteArray& head, const QByteArray& body, int lines) {
        return self && self->sendShared(head, body, lines);
    });
    m_calls.append(call);
    connect(call, &ControlCall::finished, this, [this, call] {
        m_calls.removeAll(call);
        call->deleteLater();
        maybeFinishClosing();
        updateIdleTimer();
    });
    connect(call, &ControlCall::cancelled, this, [this, call] {
        m_calls.removeAll(call);
        call->deleteLater();
        updateIdleTimer();
    });
    m_verbs.dispatch(*call);
}

void ControlConnection::handleRequestTimeout()
{
    send(ControlMessage::encodeError(QJsonValue(),
        ControlError { ControlErrorCode::incomplete,
            u"a request was left unfinished for %1 s; closing"_s.arg(m_options.requestTimeout.count() / 1000.0) }));
    closeAfterFlush();
}

void ControlConnection::updateIdleTimer()
{
    const bool idle = m_fd >= 0 && !m_closing && !m_peerDone && m_calls.isEmpty() && !m_framer.hasPartialLine();
    if (!idle) {
        m_idleTimer.stop();
        return;
    }
    if (!m_outbox->isEmpty()) {
        // A client still reading its last answer (a long log into a pager)
        // is not idle: the wait starts once it has read everything.
        m_idleTimer.stop();
        m_outbox->setWantsEmpty(true);
        return;
    }
    if (!m_idleTimer.isActive())
        m_idleTimer.start();
}

void ControlConnection::handleIdleTimeout()
{
    send(ControlMessage::encodeError(QJsonValue(),
        ControlError { ControlErrorCode::incomplete,
            u"no request came for %1 s; closing"_s.arg(m_options.idleTimeout.count() / 1000.0) }));
    closeAfterFlush();
}

void ControlConnection::closeAfterFlush()
{
    m_closing = true;
    m_readNotifier->setEnabled(false);
    m_requestTimer.stop();
    m_idleTimer.stop();
    maybeFinishClosing();
}

void ControlConnection::maybeFinishClosing()
{
    // A closing connection goes once everything queued is sent and no call
    // still streams to it; one whose client has stopped sending ends the same way.
    const bool winding = m_closing || m_peerDone;
    if (m_fd < 0 || !winding)
        return;
    // A call still streaming keeps the connection; its end comes back here.
    if (!m_calls.isEmpty())
        return;
    if (m_outbox->isEmpty()) {
        closeNow();
        return;
    }
    // Told once, when the writer has sent the rest.
    m_outbox->setWantsEmpty(true);
}

void ControlConnection::closeNow()
{
    if (m_fd < 0)
        return;
    m_readNotifier->setEnabled(false);
    m_requestTimer.stop();
    m_idleTimer.stop();
    m_outbox->setNotifyTarget(nullptr, nullptr);
    m_outbox->clear();
    m_writer.remove(m_outbox);
    ::close(m_fd);
    m_fd = -1;
    const QList<QPointer<ControlCall>> calls = std::exchange(m_calls, {});
    for (const QPointer<ControlCall>& call : calls) {
        if (call) {
            call->cancel();
            call->deleteLater();
        }
    }
    Q_EMIT closed();
}

} // namespace Wardlamp
