#include "ControlCall.h"

namespace Wardlamp {

ControlCall::ControlCall(ControlRequest request, Writer writer, QObject* parent)
    : QObject(parent)
    , m_request(std::move(request))
    , m_writer(std::move(writer))
{
}

ControlCall::~ControlCall() = default;

void ControlCall::reply(const QJsonObject& result)
{
    finish(ControlMessage::encodeReply(m_request.id, result));
}

void ControlCall::fail(ControlErrorCode code, const QString& message)
{
    finish(ControlMessage::encodeError(m_request.id, ControlError { code, message }));
}

bool ControlCall::event(const QJsonObject& event)
{
    return !m_finished && write(ControlMessage::encodeEvent(m_request.id, event));
}

bool ControlCall::encodedEvent(QByteArrayView eventJson)
{
    return !m_finished && write(ControlMessage::encodeEvent(m_request.id, eventJson));
}

bool ControlCall::sharedEvent(const QByteArray& eventJson, int lines)
{
    if (m_finished)
        return false;
    if (!m_sharedWriter)
        return write(ControlMessage::encodeEvent(m_request.id, eventJson));
    static const QByteArray tail = QByteArrayLiteral("}\n");
    if (m_eventHead.isEmpty()) {
        m_eventHead = ControlMessage::encodeEvent(m_request.id, QByteArrayView());
        m_eventHead.chop(tail.size());
    }
    if (m_sharedWriter(m_eventHead, eventJson, lines))
        return true;
    cancel();
    return false;
}

void ControlCall::cancel()
{
    if (m_finished)
        return;
    m_finished = true;
    Q_EMIT cancelled();
}

bool ControlCall::write(const QByteArray& line)
{
    if (m_writer(line))
        return true;
    cancel();
    return false;
}

void ControlCall::finish(const QByteArray& line)
{
    if (m_finished)
        return;
    m_finished = true;
    m_writer(line);
    Q_EMIT finished();
}

} // namespace Wardlamp
