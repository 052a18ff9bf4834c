#pragma once

#include "LogLine.h"

#include <QList>

#include <cstddef>
#include <iterator>

namespace Wardlamp {

// The bounded log of one server: oldest line first, at most capacity() lines.
// Appending beyond the capacity drops the oldest line in O(1) (a circular buffer
// over an implicitly shared QList, so copies of a state are cheap until written).
class LogRing {
public:
    static constexpr int defaultCapacity = 2000;

    LogRing()
        : LogRing(defaultCapacity)
    {
    }
    explicit LogRing(int capacity);

    int capacity() const { return m_capacity; }
    int size() const { return m_size; }
    bool isEmpty() const { return m_size == 0; }

    // Index 0 is the oldest line.
    const LogLine& at(int index) const;
    const LogLine& operator[](int index) const { return at(index); }
    const LogLine& first() const { return at(0); }
    const LogLine& last() const { return at(m_size - 1); }

    // Sequence number of the oldest and newest line; 0 when empty.
    quint64 firstSeq() const { return m_size ? first().seq : 0; }
    quint64 lastSeq() const { return m_size ? last().seq : 0; }

    // Index of the first line whose seq is greater than `seq` (size() when none).
    int indexAfterSeq(quint64 seq) const;

    void append(LogLine line);
    void clear();

    // The lines as a plain list, oldest first.
    QList<LogLine> toList() const;

    class const_iterator {
    public:
        using iterator_category = std::random_access_iterator_tag;
        using value_type = LogLine;
        using difference_type = std::ptrdiff_t;
        using pointer = const LogLine*;
        using reference = const LogLine&;

        const_iterator() = default;
        const_iterator(const LogRing* ring, int index)
            : m_ring(ring)
            , m_index(index)
        {
        }
        reference operator*() const { return m_ring->at(m_index); }
        pointer operator->() const { return &m_ring->at(m_index); }
        reference operator[](difference_type n) const { return m_ring->at(m_index + int(n)); }
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
    const_iterator end() const { return { this, m_size }; }

    friend bool operator==(const LogRing& a, const LogRing& b);

private:
    QList<LogLine> m_lines; // grows up to m_capacity, then wraps
    int m_capacity;
    int m_head = 0; // physical index of the oldest line
    int m_size = 0;
};

} // namespace Wardlamp
