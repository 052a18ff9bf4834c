#pragma once

#include <QByteArray>
#include <QLatin1String>
#include <QStringView>
#include <QUuid>

#include <optional>
#include <vector>

namespace Wardlamp::Json {

// Compact JSON writer. Strings are written as UTF-8 with every control character
// (C0, DEL, C1) and U+2028/U+2029 escaped, "/" left as is, and a lone surrogate
// replaced by U+FFFD, so that whatever text a server printed the output is valid
// JSON that the strict reader accepts. A number that JSON cannot hold (NaN,
// infinity) makes the whole document fail.
class Writer {
public:
    Writer();

    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    void key(QLatin1String name);

    void string(QStringView text);
    void string(QLatin1String text);
    void boolean(bool value);
    void integer(qint64 value);
    // Canonical 36-character form, upper-case hexadecimal digits.
    void uuid(const QUuid& id);
    void number(double value);

    // The document, or nothing when a value could not be written.
    std::optional<QByteArray> finish();

private:
    void beforeValue();

    QByteArray m_out;
    std::vector<bool> m_hasItems;
    bool m_afterKey = false;
    bool m_failed = false;
};

// Appends `text` as a JSON string literal (quotes included) to `out`.
void appendString(QByteArray& out, QStringView text);

} // namespace Wardlamp::Json
