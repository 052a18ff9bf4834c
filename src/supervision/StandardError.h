#pragma once

#include <QByteArrayView>

namespace Wardlamp {

// Writes bytes to standard error as they are: no format interpretation, no
// message handler, one write call for the whole text (repeated only for what a
// short write left over), so lines of concurrent writers do not interleave.
// Safe to call from any thread.
void writeToStandardError(QByteArrayView text);

} // namespace Wardlamp
