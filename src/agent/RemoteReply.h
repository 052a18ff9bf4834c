#pragma once

#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <optional>

namespace Wardlamp {

// What a `pair` or `remote` command produced, as plain data: it crosses
// wardlampd's remote plugin boundary and the control socket. Header-only, so
// that wardlampd, its plugin, the desktop app and a front door agree on it
// without linking anything.
struct RemoteReply {
    int exitCode = 0;
    QString out; // for standard output, as it is
    QStringList notes; // one line each, for standard error

    QJsonObject toJson() const
    {
        return { { QStringLiteral("exitCode"), exitCode }, { QStringLiteral("out"), out },
            { QStringLiteral("notes"), QJsonArray::fromStringList(notes) } };
    }

    static std::optional<RemoteReply> fromJson(const QJsonObject& object)
    {
        const QJsonValue exitCode = object.value(QLatin1StringView("exitCode"));
        if (!exitCode.isDouble())
            return std::nullopt;
        RemoteReply reply;
        reply.exitCode = exitCode.toInt();
        reply.out = object.value(QLatin1StringView("out")).toString();
        for (const QJsonValue note : object.value(QLatin1StringView("notes")).toArray())
            reply.notes.append(note.toString());
        return reply;
    }
};

// What a front door read for a remote command, so that no secret is ever on a
// command line: the password of `remote password` (from a file, the terminal
// without echo, or standard input).
struct RemoteInputs {
    std::optional<QString> password;
};

// A remote command as the control socket carries it: {"argv": [the verb and
// its words], "password"?: text}.
struct RemoteRequest {
    QStringList words; // the verb first: "pair", "--rotate"
    RemoteInputs inputs;

    static RemoteRequest fromJson(const QJsonObject& args)
    {
        RemoteRequest request;
        for (const QJsonValue word : args.value(QLatin1StringView("argv")).toArray())
            request.words.append(word.toString());
        const QJsonValue password = args.value(QLatin1StringView("password"));
        if (password.isString())
            request.inputs.password = password.toString();
        return request;
    }
};

} // namespace Wardlamp
