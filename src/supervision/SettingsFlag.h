#pragma once

#include <QStringView>

class QVariant;

namespace Wardlamp {

// A boolean setting as the settings file holds it. A hand-edited value that is
// neither a boolean nor "true"/"false" reads as false, rather than whatever
// QVariant::toBool makes of it.
bool readSettingsFlag(const QVariant& value);

// A boolean environment variable (WL_REMOTE_ENABLED and the like): true when,
// after leading white space, the text begins with "Y", "y", "T", "t", or
// (after an optional sign and any leading zeros) a digit 1-9.
bool readEnvironmentFlag(QStringView text);

} // namespace Wardlamp
