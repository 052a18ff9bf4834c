#pragma once

#include <QByteArrayView>

namespace Wardlamp {

// Which line of one batch of output an alert quotes. A crash usually prints
// several error lines at once, and the first is seldom the one that explains
// it: Node's
//   node:events:502
//         throw er; // Unhandled 'error' event
//         ^
//   Error: listen EADDRINUSE: address already in use :::3000
// arrives in one write, all on standard error. The alert quotes the first
// line that begins with an error word ("Error: listen EADDRINUSE..."), else
// the first that carries one anywhere, else the first error line (a line of
// standard error). Pure.
class AlertLine {
public:
    // How well an error line explains the alert; a larger value is better.
    enum class Rank { errorLine, carriesWord, leadsWithWord };

    // `line` is the text as error detection sees it (UTF-8, without escape
    // sequences); `matchedWord` tells that error detection already found an
    // error word in it (an error line of standard output), so it is not
    // looked for again.
    static Rank rank(QByteArrayView line, bool matchedWord);

    // Whether the first word of the line, after leading spaces and ASCII
    // punctuation ("[ERROR] db down", "  Error: x", "Traceback (most..."),
    // is an error word.
    static bool leadsWithErrorWord(QByteArrayView line);
};

} // namespace Wardlamp
