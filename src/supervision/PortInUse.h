#pragma once

#include <QByteArrayView>
#include <QRegularExpression>
#include <QString>
#include <QStringView>

#include <optional>

namespace Wardlamp {

// Spots an "address in use" message in a line of output and extracts its port.
// Pure and thread-safe.
class PortInUse {
public:
    // The port of an in-use message ("EADDRINUSE", "address already in use",
    // "in use?", or both "port" and "in use"), or nothing. The number is not
    // range-checked: five digits may exceed 65535.
    static std::optional<int> detect(QStringView line);

    // Whether an in-use message says that the server carries on with another
    // port: Vite's "Port 5173 is in use, trying another one..." and Next's
    // "Port 3000 is in use, trying 3001 instead." ("trying another" or
    // "instead", any case). Such a server has not failed.
    static bool saysItCarriesOn(QStringView line);

    // The first capture group of the first match of the pattern in the text, as
    // a decimal integer; nothing when the pattern does not compile, nothing
    // matches, the group did not take part, or it is not a number.
    static std::optional<int> firstCapturedInt(const QString& pattern, QStringView text);
    static std::optional<int> firstCapturedInt(const QRegularExpression& pattern, QStringView text);

    // A cheap test on raw ASCII bytes: false guarantees detect() finds nothing
    // (every in-use wording contains "in use" or "eaddrinuse"). Lines with
    // bytes >= 0x80 are not decided here; treat them as maybe.
    static bool mayMentionAscii(QByteArrayView line);
};

} // namespace Wardlamp
