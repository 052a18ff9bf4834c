#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

#include <optional>

namespace Wardlamp {

// The settings file as its bytes, for values a person wrote by hand. QSettings
// reads an INI value typed without its own quoting as text it splits at commas
// and unquotes (a JSON array becomes a list of broken pieces), and it rewrites
// the whole file on its next write (comments and layout gone). These read the
// value as it was typed, and keep the file as it was before anything is
// written to it. Pure, but for keepCopy().
class SettingsFileText {
public:
    // The text after "=" on the line of `key` in the [General] section (or
    // before any section), without the spaces around it; the last such line
    // counts, as for QSettings. Nothing when no line has the key.
    static std::optional<QByteArray> rawValue(QByteArrayView fileBytes, QStringView key);

    // Writes `bytes` to a new file beside `settingsFile` ("wardlamp.conf" ->
    // "wardlamp.conf.hand-written", then ".hand-written.2", … never replacing
    // one), reads it back and compares; the copy's path, or why there is none.
    // A copy holding the same bytes already counts as kept.
    struct CopyFailure {
        QString reason;
    };
    static Expected<QString, CopyFailure> keepCopy(const QString& settingsFile, const QByteArray& bytes);
};

} // namespace Wardlamp
