#pragma once

#include "SecretBytes.h"

#include <QLatin1String>
#include <QString>
#include <QStringView>

#include <optional>

namespace Wardlamp {

// What a user carries from the desktop to the phone: the pairing secret and the
// desktop's display name. Its text form, the pairing key, is "WL1." followed by
// the URL-safe unpadded base64 of {"v":…,"name":…,"secret":<standard base64>}.
// The password is never part of it. A plain value.
struct PairingCredential {
    static constexpr QLatin1String prefix { "WL1." };
    static constexpr qsizetype secretSize = 32;

    qint64 v = 1;
    QString name;
    SecretBytes secret;

    // Version 1, `name`, 32 fresh random bytes; nothing if the random source fails.
    static std::optional<PairingCredential> generate(const QString& name);

    // The pairing key text: only the prefix, letters, digits, "-" and "_".
    QString encoded() const;

    // Tolerates surrounding white space, the standard alphabet and present or
    // missing padding; refuses everything else, including a secret that is not
    // exactly 32 bytes. Any version is accepted and kept.
    static std::optional<PairingCredential> parse(QStringView text);

    friend bool operator==(const PairingCredential&, const PairingCredential&) = default;
};

} // namespace Wardlamp
