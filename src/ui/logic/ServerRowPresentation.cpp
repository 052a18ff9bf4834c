#include "ServerRowPresentation.h"

#include "supervision/ServerConfig.h"
#include "supervision/ServerStatus.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

ServerAction ServerRowPresentation::actionFor(ServerStatus status)
{
    return status == ServerStatus::running ? ServerAction::stop : ServerAction::start;
}

QString ServerRowPresentation::statusWordOf(ServerStatus status)
{
    switch (status) {
    case ServerStatus::running:
        return u"running"_s;
    case ServerStatus::error:
        return u"error"_s;
    case ServerStatus::stopped:
        break;
    }
    return u"stopped"_s;
}

QString ServerRowPresentation::singleLine(const QString& text)
{
    QString line;
    line.reserve(text.size());
    for (const QChar c : text) {
        if (c == u'\n' || c == u'\r' || c == u'\t')
            line.append(u' ');
        else if (c.category() != QChar::Other_Control)
            line.append(c);
    }
    return line;
}

ServerRowPresentation ServerRowPresentation::describe(const ServerConfig& server, ServerStatus status)
{
    ServerRowPresentation row;
    row.title = singleLine(server.name.isEmpty() ? server.command : server.name);
    row.statusWord = statusWordOf(status);
    row.link = TunnelLink::of(server);
    row.dotTone = status == ServerStatus::running ? Tone::running
        : status == ServerStatus::error           ? Tone::error
                                                  : Tone::secondary;
    row.statusTone = status == ServerStatus::error ? Tone::error : Tone::secondary;
    row.action = actionFor(status);
    row.buttonText = row.action == ServerAction::stop ? u"Stop"_s : u"Start"_s;
    row.buttonTone = row.action == ServerAction::stop ? Tone::error : Tone::running;

    const QString spoken = row.title.trimmed().isEmpty() ? u"Untitled server"_s : row.title;
    row.accessibleName = spoken;
    row.accessibleDescription = row.statusWord;
    if (row.link)
        row.accessibleDescription += u", tunnel "_s + row.link->url.toString(QUrl::FullyEncoded);
    row.buttonAccessibleName = row.buttonText + u' ' + spoken;
    return row;
}

} // namespace Wardlamp
