#pragma once

#include <QByteArrayView>

namespace Wardlamp {

// Writes bytes to standard error as they are: no format interpretation, no
// message handler, one write call for the whole text (repeated only for what a
// short write left over), so lines of concurrent writers do not interleave.
// Safe to call from any thread.
void writeToStandardError(QByteArrayView text);

// Where writeToStandardError() sends the text instead of writing fd 2 itself:
// a program whose standard error may block (a pipe to a pager, a stopped
// terminal) installs a sink that never does. Callable from any thread; not
// for a process that writes from signal handlers. Null: write fd 2 again.
using StandardErrorSink = void (*)(QByteArrayView text);
void setStandardErrorSink(StandardErrorSink sink);

} // namespace Wardlamp
