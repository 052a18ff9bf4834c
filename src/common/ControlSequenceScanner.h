#pragma once

#include <cstddef>
#include <string_view>

namespace Wardlamp {

// Splits a line of a server's output (UTF-8 bytes) into what a reader sees and
// what drives a terminal: runs of printable text, colour changes (SGR: CSI
// digits ; : … m, in the 7-bit form ESC [ and the 8-bit form U+009B), and
// everything else a terminal would act on (cursor moves, screen clears, titles,
// hyperlinks, device queries: CSI, OSC, DCS, SOS, PM, APC in both forms, two-byte
// escapes, and every control character but the tab). An escape sequence that
// never ends within the text, or is broken off by a byte that cannot belong to
// it, is one `control` piece up to that point. Pure; shared by everything that
// shows output (a terminal, the log window) so they agree on what is text.
class ControlSequenceScanner {
public:
    struct Piece {
        enum class Kind {
            text, // printable text (tabs included, UTF-8 as given)
            colour, // an SGR sequence; its parameters are [paramsBegin, paramsEnd)
            control, // anything else: dropped from what is shown
        };
        Kind kind = Kind::text;
        std::size_t begin = 0;
        std::size_t end = 0;
        std::size_t paramsBegin = 0;
        std::size_t paramsEnd = 0;
    };

    // The piece that starts at `i` (< text.size()); the next one starts at its end.
    static Piece next(std::string_view text, std::size_t i)
    {
        const unsigned char byte = at(text, i);
        if (byte == escape)
            return escapeSequence(text, i);
        if (isC1(text, i))
            return c1Sequence(text, i);
        if ((byte < 0x20 && byte != '\t') || byte == 0x7F)
            return { Piece::Kind::control, i, i + 1 };
        // Plain text: up to the next byte that needs a look.
        std::size_t end = i + 1;
        while (end < text.size()) {
            const unsigned char b = at(text, end);
            if ((b < 0x20 && b != '\t') || b == 0x7F || b == 0xC2)
                break;
            ++end;
        }
        return { Piece::Kind::text, i, end };
    }

    // Whether the whole text is one plain run (or empty): nothing to drop or interpret.
    static bool isPlain(std::string_view text)
    {
        for (std::size_t i = 0; i < text.size(); ++i) {
            const unsigned char byte = at(text, i);
            if ((byte < 0x20 && byte != '\t') || byte == 0x7F || isC1(text, i))
                return false;
        }
        return true;
    }

private:
    static constexpr unsigned char escape = 0x1B;

    static unsigned char at(std::string_view text, std::size_t i) { return static_cast<unsigned char>(text[i]); }

    static bool isC1(std::string_view text, std::size_t i)
    {
        return i + 1 < text.size() && at(text, i) == 0xC2 && at(text, i + 1) >= 0x80 && at(text, i + 1) <= 0x9F;
    }

    // A control string (OSC, DCS, SOS, PM, APC) whose body begins at `i`: the
    // index after its terminator (BEL, ESC \ or the 8-bit ST), or the end of the
    // text when it never ends.
    static std::size_t skipControlString(std::string_view text, std::size_t i)
    {
        while (i < text.size()) {
            const unsigned char byte = at(text, i);
            if (byte == 0x07)
                return i + 1;
            if (byte == escape && i + 1 < text.size() && text[i + 1] == '\\')
                return i + 2;
            if (byte == 0xC2 && i + 1 < text.size() && at(text, i + 1) == 0x9C)
                return i + 2;
            ++i;
        }
        return i;
    }

    // A CSI sequence whose parameters begin at `begin` and whose introducer
    // began at `start`. A byte that cannot be part of the sequence ends it
    // unfinished: it is not consumed, so it is looked at on its own.
    static Piece csi(std::string_view text, std::size_t start, std::size_t begin)
    {
        bool plainParameters = true;
        std::size_t i = begin;
        while (i < text.size()) {
            const unsigned char byte = at(text, i);
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
                if (byte == 'm' && plainParameters)
                    return { Piece::Kind::colour, start, i + 1, begin, i };
                return { Piece::Kind::control, start, i + 1 };
            }
            break;
        }
        return { Piece::Kind::control, start, i };
    }

    static Piece escapeSequence(std::string_view text, std::size_t i)
    {
        if (i + 1 >= text.size())
            return { Piece::Kind::control, i, i + 1 };
        const unsigned char next = at(text, i + 1);
        if (next == '[')
            return csi(text, i, i + 2);
        if (next == ']' || next == 'P' || next == 'X' || next == '^' || next == '_')
            return { Piece::Kind::control, i, skipControlString(text, i + 2) };
        if (next >= 0x20 && next <= 0x2F) {
            std::size_t j = i + 1;
            while (j < text.size() && at(text, j) >= 0x20 && at(text, j) <= 0x2F)
                ++j;
            if (j < text.size() && at(text, j) >= 0x30 && at(text, j) <= 0x7E)
                ++j;
            return { Piece::Kind::control, i, j };
        }
        if (next >= 0x30 && next <= 0x7E)
            return { Piece::Kind::control, i, i + 2 };
        return { Piece::Kind::control, i, i + 1 }; // a lone ESC; what follows is looked at on its own
    }

    static Piece c1Sequence(std::string_view text, std::size_t i)
    {
        const unsigned char code = at(text, i + 1);
        if (code == 0x9B)
            return csi(text, i, i + 2);
        if (code == 0x9D || code == 0x90 || code == 0x98 || code == 0x9E || code == 0x9F)
            return { Piece::Kind::control, i, skipControlString(text, i + 2) };
        return { Piece::Kind::control, i, i + 2 };
    }
};

} // namespace Wardlamp
