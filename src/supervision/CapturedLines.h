#pragma once

#include "RawLine.h"

#include <QByteArrayView>

#include <concepts>
#include <cstddef>
#include <iterator>
#include <ranges>
#include <span>

namespace Wardlamp {

// One line as the manager appended it: captured output or a status message.
// `text` is valid UTF-8 (invalid input bytes already replaced by U+FFFD) and
// points into the manager's buffers: it is valid only during the signal call.
struct CapturedLine {
    quint64 seq = 0;
    QByteArrayView text;
    bool isError = false;
};

// The lines of one batch, in order, read in place: runs of lines numbered one
// after another, each either output lines in the output thread's own table
// (nothing is copied per line to hand them out) or an array of CapturedLine
// (the manager's status lines). Lines are made as they are read, so iterate by
// value or const reference:
//
//     for (const CapturedLine& line : batch.lines) …
class CapturedLines {
public:
    struct Run {
        quint64 firstSeq = 0; // of the first output line; unused for `lines`
        std::size_t count = 0;
        const Detail::RawLine* output = nullptr; // `count` output lines, or …
        const CapturedLine* lines = nullptr; // … `count` lines as they are

        CapturedLine at(std::size_t i) const
        {
            if (!output)
                return lines[i];
            const Detail::RawLine& raw = output[i];
            return CapturedLine { firstSeq + i, QByteArrayView(raw.data, raw.length),
                (raw.flags & Detail::RawLine::error) != 0 };
        }
    };

    class Iterator {
    public:
        // Lines are made as they are read (`reference` is a value): a C++20
        // forward iterator, an input iterator to older code.
        using iterator_concept = std::forward_iterator_tag;
        using iterator_category = std::input_iterator_tag;
        using value_type = CapturedLine;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = CapturedLine;

        Iterator() = default;
        Iterator(const Run* run, std::size_t index)
            : m_run(run)
            , m_index(index)
        {
        }
        CapturedLine operator*() const { return m_run->at(m_index); }
        Iterator& operator++()
        {
            // Runs are never empty: the end of one is the start of the next.
            if (++m_index == m_run->count) {
                ++m_run;
                m_index = 0;
            }
            return *this;
        }
        Iterator operator++(int)
        {
            Iterator before = *this;
            ++*this;
            return before;
        }
        bool operator==(const Iterator&) const = default;

    private:
        const Run* m_run = nullptr;
        std::size_t m_index = 0;
    };

    CapturedLines() = default;
    // Runs that outlive this object; empty runs are not allowed.
    explicit CapturedLines(std::span<const Run> runs);
    // One array of lines, which outlives this object.
    template <std::ranges::contiguous_range Lines>
    requires std::same_as<std::ranges::range_value_t<Lines>, CapturedLine> CapturedLines(
        const Lines& lines) // NOLINT(google-explicit-constructor): a batch of plain lines
        : m_single { 0, std::size(lines), nullptr, std::data(lines) }
        , m_runs(&m_single, m_single.count > 0 ? 1 : 0)
        , m_size(m_single.count)
    {
    }
    CapturedLines(const CapturedLines& other);
    CapturedLines& operator=(const CapturedLines& other);

    std::size_t size() const { return m_size; }
    bool empty() const { return m_size == 0; }
    Iterator begin() const { return Iterator(m_runs.data(), 0); }
    Iterator end() const { return Iterator(m_runs.data() + m_runs.size(), 0); }
    CapturedLine front() const { return m_runs.front().at(0); }
    CapturedLine back() const { return m_runs.back().at(m_runs.back().count - 1); }
    // Walks the runs: cheap, there are few.
    CapturedLine operator[](std::size_t i) const;

private:
    Run m_single; // the run of a batch made from one array of lines
    std::span<const Run> m_runs;
    std::size_t m_size = 0;
};

} // namespace Wardlamp
