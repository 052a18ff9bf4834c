#pragma once

class QVariant;

namespace Wardlamp {

// A boolean setting as the settings file holds it. A hand-edited value that is
// neither a boolean nor "true"/"false" reads as false, rather than whatever
// QVariant::toBool makes of it.
bool readSettingsFlag(const QVariant& value);

} // namespace Wardlamp
