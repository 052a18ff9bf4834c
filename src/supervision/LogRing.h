#pragma once

#include "LogLine.h"
#include "LogLineIds.h"

#include <QByteArrayView>
#include <QList>
#include <QSharedDataPointer>

#include <cstddef>
#include <iterator>

namespace Wardlamp {

// The bounded log of one server: oldest line first, at most capacity() lines.
// Appending beyond the capacity drops the oldest line in O(1).
//
// The lines of a log are a run of consecutive sequence numbers: the line after
// the newest continues it; a line with any other number begins a new run, and
// the log then holds that line alone. (A log only ever skips lines that a full
// log's worth of later lines in the same batch would evict at once.)
//
// Lines are kept compactly, not as LogLine records: the text as UTF-8 in one
// circular byte arena per log, and per line its time (ms since 1970), error
// flag and place in the arena (16 bytes); sequence numbers follow from the
// oldest one. Line ids are not kept but derived from the server id and the
// sequence number (LogLineIds), so a line reads with the same id every time.
// at() and iteration materialise LogLine values; the *At() accessors read
// single fields without doing so.
//
// Copies share the storage until one of them is written (copy-on-write), so
// copying a server's state is cheap. Not thread-safe; a copy may be read on
// another thread.
class LogRing {
public:
    static constexpr int defaultCapacity = 2000;
    // Longer texts are cut (at a UTF-8 character boundary) when appended.
    static constexpr qsizetype maxTextBytes = 1024 * 1024;

    LogRing()
        : LogRing(QUuid(), defaultCapacity)
    {
    }
    explicit LogRing(int capacity)
        : LogRing(QUuid(), capacity)
    {
    }
    // The log of the server `serverId`, whose line ids it derives.
    explicit LogRing(const QUuid& serverId, int capacity = defaultCapacity);
    LogRing(const LogRing& other);
    LogRing(LogRing&& other) noexcept;
    LogRing& operator=(const LogRing& other);
    LogRing& operator=(LogRing&& other) noexcept;
    ~LogRing();

    int capacity() const { return m_capacity; }
    int size() const;
    bool isEmpty() const { return size() == 0; }

    // Index 0 is the oldest line.
    LogLine at(int index) const;
    LogLine operator[](int index) const { return at(index); }
    LogLine first() const { return at(0); }
    LogLine last() const { return at(size() - 1); }

    quint64 seqAt(int index) const;
    qint64 msecsAt(int index) const;
    bool isErrorAt(int index) const;
    // The line's UTF-8 text; valid until the ring is next changed.
    QByteArrayView textAt(int index) const;
    QUuid idAt(int index) const { return m_ids.id(seqAt(index)); }
    // The id that the line with this sequence number has (or had) in this log.
    QUuid lineId(quint64 seq) const { return m_ids.id(seq); }

    // Sequence number of the oldest and newest line; 0 when empty.
    quint64 firstSeq() const { return isEmpty() ? 0 : seqAt(0); }
    quint64 lastSeq() const { return isEmpty() ? 0 : seqAt(size() - 1); }

    // Index of the first line whose seq is greater than `seq` (size() when none).
    int indexAfterSeq(quint64 seq) const;

    // `text` must be valid UTF-8. `seq` should be lastSeq() + 1; any other
    // number begins a new run (the older lines are dropped).
    void append(QByteArrayView text, qint64 msecsSinceEpoch, bool isError, quint64 seq);
    void append(const QString& text, const QDateTime& date, bool isError, quint64 seq);
    // Empties the log and gives its memory back.
    void clear();

    // The lines as a plain list, oldest first.
    QList<LogLine> toList() const;

    // Heap bytes held by this log's storage (shared with its copies).
    qsizetype memoryBytes() const;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = LogLine;
        using difference_type = std::ptrdiff_t;
        using pointer = void;
        using reference = LogLine;

        const_iterator() = default;
        const_iterator(const LogRing* ring, int index)
            : m_ring(ring)
            , m_index(index)
        {
        }
        LogLine operator*() const { return m_ring->at(m_index); }
        LogLine operator[](difference_type n) const { return m_ring->at(m_index + int(n)); }
        const_iterator& operator++()
        {
            ++m_index;
            return *this;
        }
        const_iterator operator++(int)
        {
            auto old = *this;
            ++m_index;
            return old;
        }
        const_iterator& operator--()
        {
            --m_index;
            return *this;
        }
        const_iterator operator--(int)
        {
            auto old = *this;
            --m_index;
            return old;
        }
        const_iterator& operator+=(difference_type n)
        {
            m_index += int(n);
            return *this;
        }
        const_iterator& operator-=(difference_type n)
        {
            m_index -= int(n);
            return *this;
        }
        friend const_iterator operator+(const_iterator it, difference_type n) { return it += n; }
        friend const_iterator operator+(difference_type n, const_iterator it) { return it += n; }
        friend const_iterator operator-(const_iterator it, difference_type n) { return it -= n; }
        friend difference_type operator-(const const_iterator& a, const const_iterator& b)
        {
            return a.m_index - b.m_index;
        }
        friend bool operator==(const const_iterator& a, const const_iterator& b) { return a.m_index == b.m_index; }
        friend auto operator<=>(const const_iterator& a, const const_iterator& b) { return a.m_index <=> b.m_index; }

    private:
        const LogRing* m_ring = nullptr;
        int m_index = 0;
    };

    const_iterator begin() const { return { this, 0 }; }
    const_iterator end() const { return { this, size() }; }

    // Same capacity and the same lines (ids included).
    friend bool operator==(const LogRing& a, const LogRing& b);

private:
    struct Slot;
    struct Data;

    const Slot& slot(int index) const;

    QSharedDataPointer<Data> d; // null while nothing has been appended since construction or clear()
    int m_capacity;
    LogLineIds m_ids;
};

} // namespace Wardlamp
