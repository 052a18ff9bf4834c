#include "ControlProtocol.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>

#include <array>
#include <utility>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr std::array errorNames {
    std::pair { ControlErrorCode::badRequest, "badRequest" },
    std::pair { ControlErrorCode::tooLarge, "tooLarge" },
    std::pair { ControlErrorCode::incomplete, "incomplete" },
    std::pair { ControlErrorCode::unsupportedVersion, "unsupportedVersion" },
    std::pair { ControlErrorCode::unknownVerb, "unknownVerb" },
    std::pair { ControlErrorCode::badArguments, "badArguments" },
    std::pair { ControlErrorCode::notFound, "notFound" },
    std::pair { ControlErrorCode::ambiguous, "ambiguous" },
    std::pair { ControlErrorCode::conflict, "conflict" },
    std::pair { ControlErrorCode::notRunning, "notRunning" },
    std::pair { ControlErrorCode::refused, "refused" },
    std::pair { ControlErrorCode::failed, "failed" },
};

QByteArray line(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<QJsonObject> parseObject(QByteArrayView text)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(text.toByteArray(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        return std::nullopt;
    return document.object();
}

bool isVersion(const QJsonValue& value)
{
    return value.isDouble() && value.toDouble() == ControlProtocol::version;
}

} // namespace

QString controlErrorName(ControlErrorCode code)
{
    for (const auto& [value, name] : errorNames) {
        if (value == code)
            return QString::fromLatin1(name);
    }
    return u"failed"_s;
}

std::optional<ControlErrorCode> controlErrorFromName(QStringView name)
{
    for (const auto& [value, text] : errorNames) {
        if (name == QLatin1StringView(text))
            return value;
    }
    return std::nullopt;
}

QByteArray ControlRequest::encode() const
{
    QJsonObject object { { u"v"_s, ControlProtocol::version }, { u"verb"_s, verb } };
    if (!id.isNull() && !id.isUndefined())
        object.insert(u"id"_s, id);
    if (!args.isEmpty())
        object.insert(u"args"_s, args);
    return line(object);
}

Expected<ControlRequest, ControlError> ControlRequest::parse(QByteArrayView text, QJsonValue* idOut)
{
    const std::optional<QJsonObject> object = parseObject(text);
    if (!object)
        return ControlError { ControlErrorCode::badRequest, u"not a JSON object"_s };
    ControlRequest request;
    const QJsonValue id = object->value(QLatin1StringView("id"));
    if (!id.isUndefined() && !id.isNull() && !id.isDouble() && !id.isString())
        return ControlError { ControlErrorCode::badRequest, u"\"id\" must be a number or a string"_s };
    request.id = id.isUndefined() ? QJsonValue() : id;
    if (idOut)
        *idOut = request.id;
    const QJsonValue version = object->value(QLatin1StringView("v"));
    if (version.isUndefined())
        return ControlError { ControlErrorCode::badRequest, u"no protocol version (\"v\")"_s };
    if (!isVersion(version))
        return ControlError { ControlErrorCode::unsupportedVersion,
            u"this supervisor speaks control protocol version %1 only"_s.arg(ControlProtocol::version) };
    const QJsonValue verb = object->value(QLatin1StringView("verb"));
    if (!verb.isString() || verb.toString().isEmpty())
        return ControlError { ControlErrorCode::badRequest, u"no verb"_s };
    request.verb = verb.toString();
    const QJsonValue args = object->value(QLatin1StringView("args"));
    if (!args.isUndefined() && !args.isNull() && !args.isObject())
        return ControlError { ControlErrorCode::badRequest, u"\"args\" must be an object"_s };
    request.args = args.toObject();
    return request;
}

QByteArray ControlMessage::encodeHello(const ControlHello& hello)
{
    QJsonArray versions;
    for (const int version : hello.versions)
        versions.append(version);
    return line({ { u"v"_s, ControlProtocol::version },
        { u"hello"_s,
            QJsonObject { { u"program"_s, hello.program }, { u"pid"_s, hello.pid }, { u"versions"_s, versions } } } });
}

QByteArray ControlMessage::encodeReply(const QJsonValue& id, const QJsonObject& result)
{
    return line({ { u"v"_s, ControlProtocol::version }, { u"id"_s, id }, { u"ok"_s, true }, { u"result"_s, result } });
}

QByteArray ControlMessage::encodeError(const QJsonValue& id, const ControlError& error)
{
    return line({ { u"v"_s, ControlProtocol::version }, { u"id"_s, id }, { u"ok"_s, false },
        { u"error"_s, QJsonObject { { u"code"_s, controlErrorName(error.code) }, { u"message"_s, error.message } } } });
}

QByteArray ControlMessage::encodeEvent(const QJsonValue& id, const QJsonObject& event)
{
    return line({ { u"v"_s, ControlProtocol::version }, { u"id"_s, id }, { u"event"_s, event } });
}

QByteArray ControlMessage::encodeEvent(const QJsonValue& id, QByteArrayView encodedEvent)
{
    // The id is encoded by QJsonDocument like everything else; only the event
    // body is spliced in as it is.
    QByteArray head = line({ { u"v"_s, ControlProtocol::version }, { u"id"_s, id } });
    head.chop(2); // "}\n"
    head.reserve(head.size() + encodedEvent.size() + 12);
    head += ",\"event\":";
    head += encodedEvent;
    head += "}\n";
    return head;
}

std::optional<ControlMessage> ControlMessage::parse(QByteArrayView text)
{
    const std::optional<QJsonObject> object = parseObject(text);
    if (!object || !isVersion(object->value(QLatin1StringView("v"))))
        return std::nullopt;
    ControlMessage message;
    message.id = object->value(QLatin1StringView("id"));
    if (message.id.isUndefined())
        message.id = QJsonValue();
    const QJsonValue hello = object->value(QLatin1StringView("hello"));
    if (hello.isObject()) {
        const QJsonObject body = hello.toObject();
        message.kind = Kind::hello;
        message.hello.program = body.value(QLatin1StringView("program")).toString();
        message.hello.pid = qint64(body.value(QLatin1StringView("pid")).toDouble());
        for (const QJsonValue version : body.value(QLatin1StringView("versions")).toArray())
            message.hello.versions.append(version.toInt());
        return message;
    }
    const QJsonValue event = object->value(QLatin1StringView("event"));
    if (event.isObject()) {
        message.kind = Kind::event;
        message.event = event.toObject();
        return message;
    }
    const QJsonValue ok = object->value(QLatin1StringView("ok"));
    if (!ok.isBool())
        return std::nullopt;
    message.kind = Kind::reply;
    message.ok = ok.toBool();
    if (message.ok) {
        message.result = object->value(QLatin1StringView("result")).toObject();
        return message;
    }
    const QJsonObject error = object->value(QLatin1StringView("error")).toObject();
    message.error.code
        = controlErrorFromName(error.value(QLatin1StringView("code")).toString()).value_or(ControlErrorCode::failed);
    message.error.message = error.value(QLatin1StringView("message")).toString();
    return message;
}

} // namespace Wardlamp
