#include "ControlConnection.h"

#include "control/ControlCall.h"
#include "control/ControlVerbs.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

ControlConnection::ControlConnection(
    int fd, const ControlVerbs& verbs, const ControlServer::Options& options, QObject* parent)
    : QObject(parent)
    , m_fd(fd)
    , m_verbs(verbs)
    , m_options(options)
    , m_readNotifier(new QSocketNotifier(fd, QSocketNotifier::Read, this))
    , m_writeNotifier(new QSocketNotifier(fd, QSocketNotifier::Write, this))
    , m_framer(ControlProtocol::maxRequestBytes)
{
    m_writeNotifier->setEnabled(false);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &ControlConnection::handleReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &ControlConnection::handleWritable);
    m_requestTimer.setSingleShot(true);
    m_requestTimer.setInterval(m_options.requestTimeout);
    connect(&m_requestTimer, &QTimer::timeout, this, &ControlConnection::handleRequestTimeout);
    send(ControlMessage::encodeHello(
        ControlHello { m_options.program, QCoreApplication::applicationPid(), { ControlProtocol::version } }));
}

ControlConnection::~ControlConnection()
{
    closeNow();
}

bool ControlConnection::send(const QByteArray& line)
{
    if (m_fd < 0)
        return false;
    // One message is always taken when nothing waits (a large reply to a
    // client that reads); past that, the bound holds.
    if (m_queuedBytes > 0 && m_queuedBytes + line.size() > m_options.maxQueuedBytes) {
        closeNow();
        return false;
    }
    m_queue.push_back(line);
    m_queuedBytes += line.size();
    if (m_queue.size() == 1)
        return flush();
    return true;
}

bool ControlConnection::flush()
{
    while (!m_queue.empty()) {
        const QByteArray& head = m_queue.front();
        const ssize_t sent = ::send(
            m_fd, head.constData() + m_headOffset, size_t(head.size() - m_headOffset), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                m_writeNotifier->setEnabled(true);
                return true;
            }
            closeNow(); // EPIPE, ECONNRESET: the client is gone
            return false;
        }
        m_headOffset += sent;
        if (m_headOffset == head.size()) {
            m_queuedBytes -= head.size();
            m_queue.pop_front();
            m_headOffset = 0;
        }
    }
    m_writeNotifier->setEnabled(false);
    maybeFinishClosing();
    return m_fd >= 0 || m_queue.empty();
}

void ControlConnection::handleWritable()
{
    flush();
}

void ControlConnection::handleReadable()
{
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
    m_calls.append(call);
    connect(call, &ControlCall::finished, this, [this, call] {
        m_calls.removeAll(call);
        call->deleteLater();
        maybeFinishClosing();
    });
    connect(call, &ControlCall::cancelled, this, [this, call] {
        m_calls.removeAll(call);
        call->deleteLater();
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

void ControlConnection::closeAfterFlush()
{
    m_closing = true;
    m_readNotifier->setEnabled(false);
    m_requestTimer.stop();
    maybeFinishClosing();
}

void ControlConnection::maybeFinishClosing()
{
    // A closing connection goes once everything queued is sent and no call
    // still streams to it; one whose client has stopped sending ends the same way.
    const bool winding = m_closing || m_peerDone;
    if (m_fd >= 0 && winding && m_queue.empty() && m_calls.isEmpty())
        closeNow();
}

void ControlConnection::closeNow()
{
    if (m_fd < 0)
        return;
    m_readNotifier->setEnabled(false);
    m_writeNotifier->setEnabled(false);
    m_requestTimer.stop();
    ::close(m_fd);
    m_fd = -1;
    m_queue.clear();
    m_queuedBytes = 0;
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
