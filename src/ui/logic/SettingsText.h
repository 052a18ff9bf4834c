#pragma once

#include "ui/logic/Tone.h"

#include <QString>

namespace Wardlamp {

struct ConnectionState;

// The remote agent's state as the Remote pane's Status row shows it.
struct ConnectionStatusText {
    QString text;
    QString glyph; // a glyph file name
    Tone tone;

    static ConnectionStatusText describe(const ConnectionState& state);

    friend bool operator==(const ConnectionStatusText&, const ConnectionStatusText&) = default;
};

// Small text decisions of the settings window.
class SettingsText {
public:
    // A sidebar row's and an editor's title: the name, or "Untitled".
    static QString serverTitle(const QString& name);

    // A note with `inline code` as rich text: the text escaped, each
    // back-quoted stretch in a monospaced span, an unpaired back quote kept
    // as it is.
    static QString noteHtml(const QString& note);

    // The text cut in the middle ("…") so that it fits `maxLines` lines of
    // `perLine` characters, broken into those lines with line feeds. Text
    // that fits is only broken into lines.
    static QString middleTruncated(const QString& text, int perLine, int maxLines);
};

} // namespace Wardlamp
