#include "TerminalText.h"

namespace Wardlamp {

namespace {

constexpr char escape = '\x1b';
constexpr QByteArrayView colourReset = "\x1b[0m";

bool isC1(QByteArrayView text, qsizetype i)
{
    return i + 1 < text.size() && quint8(text[i]) == 0xC2 && quint8(text[i + 1]) >= 0x80 && quint8(text[i + 1]) <= 0x9F;
}

// Skips a control string (OSC, DCS, SOS, PM, APC) whose body begins at `i`:
// returns the index after its terminator (BEL, ESC \ or the 8-bit ST), or the
// end of the text when it never ends.
qsizetype skipControlString(QByteArrayView text, qsizetype i)
{
    while (i < text.size()) {
        const quint8 byte = quint8(text[i]);
        if (byte == 0x07)
            return i + 1;
        if (byte == quint8(escape) && i + 1 < text.size() && text[i + 1] == '\\')
            return i + 2;
        if (byte == 0xC2 && i + 1 < text.size() && quint8(text[i + 1]) == 0x9C)
            return i + 2;
        ++i;
    }
    return i;
}

// A CSI sequence whose parameters begin at `begin`. Returns where the text
// goes on and, in `sgr`, whether the sequence was a plain colour change.
// A byte that cannot be part of the sequence ends it unfinished: it is not
// consumed, so it is looked at on its own.
qsizetype skipCsi(QByteArrayView text, qsizetype begin, bool& sgr)
{
    sgr = false;
    bool plainParameters = true;
    qsizetype i = begin;
    while (i < text.size()) {
        const quint8 byte = quint8(text[i]);
        if (byte >= 0x30 && byte <= 0x3F) {
            plainParameters = plainParameters && ((byte >= '0' && byte <= '9') || byte == ';' || byte == ':');
            ++i;
            continue;
        }
        if (byte >= 0x20 && byte <= 0x2F) {
            plainParameters = false; // intermediate bytes: not a colour change
            ++i;
            continue;
        }
        if (byte >= 0x40 && byte <= 0x7E) {
            sgr = byte == 'm' && plainParameters;
            return i + 1;
        }
        return i;
    }
    return i;
}

} // namespace

void TerminalText::append(QByteArray& out, QByteArrayView text, bool keepColour)
{
    bool colourKept = false;
    qsizetype i = 0;
    while (i < text.size()) {
        const quint8 byte = quint8(text[i]);
        if (byte == quint8(escape)) {
            if (i + 1 >= text.size())
                break;
            const quint8 next = quint8(text[i + 1]);
            if (next == '[') {
                bool sgr = false;
                const qsizetype end = skipCsi(text, i + 2, sgr);
                if (sgr && keepColour) {
                    out += text.sliced(i, end - i);
                    colourKept = true;
                }
                i = end;
            } else if (next == ']' || next == 'P' || next == 'X' || next == '^' || next == '_') {
                i = skipControlString(text, i + 2);
            } else if (next >= 0x20 && next <= 0x2F) {
                qsizetype j = i + 1;
                while (j < text.size() && quint8(text[j]) >= 0x20 && quint8(text[j]) <= 0x2F)
                    ++j;
                if (j < text.size() && quint8(text[j]) >= 0x30 && quint8(text[j]) <= 0x7E)
                    ++j;
                i = j;
            } else if (next >= 0x30 && next <= 0x7E) {
                i += 2;
            } else {
                ++i; // a lone ESC; what follows is looked at on its own
            }
            continue;
        }
        if (isC1(text, i)) {
            const quint8 code = quint8(text[i + 1]);
            if (code == 0x9B) {
                bool sgr = false;
                const qsizetype end = skipCsi(text, i + 2, sgr);
                if (sgr && keepColour) {
                    // Written in the 7-bit form every terminal knows.
                    out += "\x1b[";
                    out += text.sliced(i + 2, end - i - 2);
                    colourKept = true;
                }
                i = end;
            } else if (code == 0x9D || code == 0x90 || code == 0x98 || code == 0x9E || code == 0x9F) {
                i = skipControlString(text, i + 2);
            } else {
                i += 2;
            }
            continue;
        }
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F) {
            ++i;
            continue;
        }
        // Plain text: copy the run up to the next byte that needs a look.
        qsizetype end = i + 1;
        while (end < text.size()) {
            const quint8 b = quint8(text[end]);
            if (b < 0x20 || b == 0x7F || b == 0xC2)
                break;
            ++end;
        }
        out += text.sliced(i, end - i);
        i = end;
    }
    if (colourKept)
        out += colourReset;
}

QByteArray TerminalText::sanitize(QByteArrayView text, bool keepColour)
{
    QByteArray out;
    out.reserve(text.size());
    append(out, text, keepColour);
    return out;
}

bool TerminalText::isPlain(QByteArrayView text)
{
    for (qsizetype i = 0; i < text.size(); ++i) {
        const quint8 byte = quint8(text[i]);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F || isC1(text, i))
            return false;
    }
    return true;
}

} // namespace Wardlamp
