#pragma once

#include "common/Expected.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace Wardlamp {

// Reads, on the front door's side, the secrets a remote command needs, so
// they travel in the request and never on a command line: `remote password`
// asks on the terminal with echo off (or reads one line of standard input),
// `--file FILE` reads the file's first line, `--clear` means none.
class SecretInput {
public:
    // Reads one line of secret input, prompting on the terminal when there is
    // one; nothing at end of input.
    using LineReader = std::function<std::optional<QString>(const QString& prompt)>;

    // The request arguments of a remote verb ({"argv": …, "password"?: …})
    // from its words (`remote password --file F`); a usage problem otherwise.
    static Expected<QJsonObject, QString> prepare(const QStringList& words, const LineReader& readLine);

    // The terminal's reader (standard input).
    static std::optional<QString> readLine(const QString& prompt);
    // One trailing line end ("\n" or "\r\n") off; a password keeps its spaces.
    static QString withoutLineEnd(QString text);
};

} // namespace Wardlamp
