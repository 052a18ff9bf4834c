#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QJsonValue>
#include <QList>
#include <QString>

#include <optional>

namespace Wardlamp {

// The control socket's framing: one JSON object per line ("\n"), UTF-8, each
// carrying the protocol version "v". The client sends requests
//   {"v":1,"id":7,"verb":"ls","args":{…}}
// and the server answers each with exactly one reply, after any number of
// events for the same id (a followed log):
//   {"v":1,"id":7,"ok":true,"result":{…}}
//   {"v":1,"id":7,"ok":false,"error":{"code":"notFound","message":"…"}}
//   {"v":1,"id":7,"event":{…}}
// Right after accepting a connection the server says who it is:
//   {"v":1,"hello":{"program":"wardlampd","pid":4242,"versions":[1]}}
// "id" is the client's (a number or a string) and comes back unchanged.
// Unknown keys are ignored, so either side may grow new ones within a version.
namespace ControlProtocol {
constexpr int version = 1;
// A request line may hold a whole server list (import); the client refuses
// larger files before sending, the server closes a connection past this.
constexpr qsizetype maxRequestBytes = 20 * 1024 * 1024;
// What a client accepts in one line from the server.
constexpr qsizetype maxReplyBytes = 64 * 1024 * 1024;
} // namespace ControlProtocol

// Why a request failed; the wire carries the enumerator's name.
enum class ControlErrorCode {
    badRequest, // not a request (not JSON, no verb, …)
    tooLarge, // a line over ControlProtocol::maxRequestBytes
    incomplete, // a request line left unfinished, or none sent, for too long
    unsupportedVersion,
    unknownVerb,
    badArguments, // the verb's arguments do not fit it
    notFound, // no server by that name or id
    ambiguous, // a name that fits more than one server
    conflict, // a name or id already taken
    notRunning, // the verb needs running supervision (a front door without one)
    refused, // not allowed (another user's connection, too many connections)
    failed, // tried and failed
};

QString controlErrorName(ControlErrorCode code);
std::optional<ControlErrorCode> controlErrorFromName(QStringView name);

struct ControlError {
    ControlErrorCode code = ControlErrorCode::failed;
    QString message;

    friend bool operator==(const ControlError&, const ControlError&) = default;
};

struct ControlRequest {
    QJsonValue id; // null when the client gave none
    QString verb;
    QJsonObject args;

    QByteArray encode() const; // one line, "\n" included
    // One line without its "\n". A line that is not a request fails with the
    // reason (and the id, when one could be read, in `id`).
    static Expected<ControlRequest, ControlError> parse(QByteArrayView line, QJsonValue* id = nullptr);
};

// Who answered the connection.
struct ControlHello {
    QString program;
    qint64 pid = 0;
    QList<int> versions;
};

// Anything the server sends, as a client reads it.
struct ControlMessage {
    enum class Kind { hello, reply, event };

    Kind kind = Kind::reply;
    QJsonValue id;
    bool ok = false;
    QJsonObject result; // reply, ok
    ControlError error; // reply, not ok
    QJsonObject event; // event
    ControlHello hello; // hello

    static QByteArray encodeHello(const ControlHello& hello);
    static QByteArray encodeReply(const QJsonValue& id, const QJsonObject& result);
    static QByteArray encodeError(const QJsonValue& id, const ControlError& error);
    static QByteArray encodeEvent(const QJsonValue& id, const QJsonObject& event);
    // The same around an event object that is already encoded JSON.
    static QByteArray encodeEvent(const QJsonValue& id, QByteArrayView encodedEvent);
    // One line without its "\n"; nothing when it is not a message of ours.
    static std::optional<ControlMessage> parse(QByteArrayView line);
};

} // namespace Wardlamp
