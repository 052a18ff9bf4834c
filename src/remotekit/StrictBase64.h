#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QStringView>

#include <optional>

namespace Wardlamp {

// Standard base64 (RFC 4648 alphabet with "+" and "/") read strictly: length a
// multiple of four, "=" only as one or two final padding characters, unused bits
// of the last group zero, no white space or any other character. Anything else
// is nothing. QByteArray::fromBase64Encoding with AbortOnBase64DecodingErrors is
// not enough here: it accepts missing padding and non-zero trailing bits.
std::optional<QByteArray> decodeStrictBase64(QByteArrayView text);
std::optional<QByteArray> decodeStrictBase64(QStringView text);

} // namespace Wardlamp
