#pragma once

#include <QtGlobal>

namespace Wardlamp::Detail {

// One line read from a child, as handed from the output thread to the main thread.
struct RawLine {
    enum Flag : quint8 {
        standardError = 1,
        error = 2, // standard error, or the error pattern matched
        maybePort = 4, // may be an address-in-use message: run the full check
        nonAscii = 8,
    };
    const char* data = nullptr; // in one of PendingOutput::chunks
    quint32 length = 0;
    quint8 flags = 0;
};

} // namespace Wardlamp::Detail
