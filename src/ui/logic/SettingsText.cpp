#include "SettingsText.h"

#include "agent/ConnectionState.h"

namespace Wardlamp {

using namespace Qt::StringLiterals;

ConnectionStatusText ConnectionStatusText::describe(const ConnectionState& state)
{
    switch (state.kind) {
    case ConnectionState::Kind::off:
        return { u"Off"_s, u"circle"_s, Tone::secondary };
    case ConnectionState::Kind::connecting:
        return { u"Connecting…"_s, u"circle-dotted"_s, Tone::secondary };
    case ConnectionState::Kind::online:
        return { u"Connected — waiting for a device"_s, u"circle-fill"_s, Tone::running };
    case ConnectionState::Kind::controllerConnected:
        return { u"Device connected"_s, u"phone-circle"_s, Tone::running };
    case ConnectionState::Kind::error:
        break;
    }
    return { state.errorText, u"warning"_s, Tone::warning };
}

QString SettingsText::serverTitle(const QString& name)
{
    return name.isEmpty() ? u"Untitled"_s : name;
}

QString SettingsText::noteHtml(const QString& note)
{
    QString html;
    qsizetype at = 0;
    while (at < note.size()) {
        const qsizetype open = note.indexOf(u'`', at);
        const qsizetype close = open < 0 ? -1 : note.indexOf(u'`', open + 1);
        if (close < 0) {
            html += note.mid(at).toHtmlEscaped();
            break;
        }
        html += note.mid(at, open - at).toHtmlEscaped();
        html += u"<code>"_s + note.mid(open + 1, close - open - 1).toHtmlEscaped() + u"</code>"_s;
        at = close + 1;
    }
    return html;
}

QString SettingsText::middleTruncated(const QString& text, int perLine, int maxLines)
{
    perLine = qMax(1, perLine);
    maxLines = qMax(1, maxLines);
    QString shown = text;
    const qsizetype room = qsizetype(perLine) * maxLines;
    if (shown.size() > room) {
        const qsizetype kept = room - 1;
        const qsizetype head = (kept + 1) / 2;
        shown = text.left(head) + u"…"_s + text.right(kept - head);
    }
    QString lines;
    for (qsizetype at = 0; at < shown.size(); at += perLine) {
        if (at > 0)
            lines += u'\n';
        lines += shown.mid(at, perLine);
    }
    return lines;
}

} // namespace Wardlamp
