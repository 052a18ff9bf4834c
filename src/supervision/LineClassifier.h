#pragma once

#include <QByteArrayView>
#include <QtGlobal>

#include <vector>

namespace Wardlamp {

// Classifies the lines of one read at memory speed. scan() passes once over
// the whole chunk with vector instructions and marks line feeds and three
// sparse kinds of position: bytes >= 0x80 and ESC, places where a listed error word
// could begin (its first letters, any case), and places where "in use" or
// "eaddrinuse" could be (the "n u" / "nus" in them). Per line, only those marks are then
// checked, so a line costs a few bit tests instead of a pass over its bytes.
//
// The answers equal ErrorPattern::matchesAscii() and PortInUse::mayMentionAscii()
// for ASCII lines; lines with a byte >= 0x80 are reported as such and left to
// the caller (they take the regular expression), and so are lines with an ESC
// (detection looks at them without their escape sequences, PlainText). Not thread-safe per object;
// one per output thread.
class LineClassifier {
public:
    // Bytes that scan() may read past the end of the chunk (never used in results).
    static constexpr qsizetype readPastEnd = 80;

    // `data` must stay readable for readPastEnd bytes beyond `size`.
    void scan(const char* data, qsizetype size);

    // The marking code scan() runs. `automatic` is the best one the CPU has;
    // tests force each of the others in turn, so every one is checked on a
    // machine that would only ever run the best.
    enum class Kernel { automatic, avx512, avx2, sse2, scalar };
    static bool supports(Kernel kernel);
    // Process-wide; for tests. Returns false (and changes nothing) when the
    // CPU cannot run the kernel.
    static bool forceKernel(Kernel kernel);

    // The marks of 64 bytes of the chunk, side by side for locality.
    struct Marks {
        quint64 newlines;
        quint64 nonAscii; // a byte >= 0x80, or ESC
        quint64 errorCandidates;
        quint64 portCandidates;
    };

    // The marks of the last scanned chunk, one per 64 bytes (bits past its end
    // are meaningless).
    const Marks* marks() const { return m_marks.data(); }
    qsizetype size() const { return m_size; }

    // Position of the first line feed at or after `from`, or -1.
    qsizetype findNewline(qsizetype from) const;

    struct Facts {
        bool ascii = true; // no byte >= 0x80 and no ESC
        bool error = false; // only meaningful when ascii
        bool mayMentionPort = false; // only meaningful when ascii
    };
    // All three facts of data[begin, end) in one pass over the marks.
    Facts facts(qsizetype begin, qsizetype end) const;

    // Facts about the line data[begin, end) of the last scanned chunk.
    bool isAscii(qsizetype begin, qsizetype end) const;
    bool isError(qsizetype begin, qsizetype end) const;
    bool mayMentionPort(qsizetype begin, qsizetype end) const;

    // Checks on one line alone, without scan(): error word at `pos` (a word
    // start) / in-use wording around `pos`.
    static bool errorWordAt(const char* line, qsizetype size, qsizetype pos);
    static bool portWordingAt(const char* line, qsizetype size, qsizetype pos);

private:
    template <typename Check>
    bool anyVerified(quint64 Marks::*bits, qsizetype begin, qsizetype end, Check&& check) const;

    const char* m_data = nullptr;
    qsizetype m_size = 0;
    std::vector<Marks> m_marks;
};

} // namespace Wardlamp
