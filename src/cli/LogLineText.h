#pragma once

#include <QString>

class QDateTime;

namespace Wardlamp {

// One log line as the front doors print it: "HH:mm:ss  text", or
// "HH:mm:ss! text" for an error line (local time). Pure.
class LogLineText {
public:
    static QString format(const QDateTime& date, bool isError, const QString& text);
};

} // namespace Wardlamp
