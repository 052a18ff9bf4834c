#pragma once

#include "remotekit/SecretBytes.h"

#include <QStringView>

#include <optional>

namespace Wardlamp {

// How environment variables of remote access are read. Pure functions.
class EnvironmentValue {
public:
    EnvironmentValue() = delete;

    // True when, after leading white space, the text begins with "Y", "y", "T",
    // "t", or (after an optional sign and any leading zeros) a digit 1-9.
    static bool readBoolean(QStringView text);

    // Pairs of hexadecimal digits (either case) to bytes. Nothing for an odd
    // number of characters or any pair that is not hexadecimal; the empty text
    // decodes to an empty secret.
    static std::optional<SecretBytes> decodeHexSecret(QStringView text);
};

} // namespace Wardlamp
