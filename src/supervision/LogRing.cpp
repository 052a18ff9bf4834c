#include "LogRing.h"

#include <QDateTime>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

namespace Wardlamp {

namespace {

constexpr quint32 errorFlag = 0x80000000u;
constexpr quint32 minimumArenaBytes = 256;
constexpr quint32 shrinkAboveBytes = 4096;
// Arena offsets are 32-bit; lines beyond this many bytes in total evict older ones.
constexpr quint64 maxArenaBytes = quint64(3) << 30;

// `text` cut to at most `limit` bytes without splitting a UTF-8 sequence.
QByteArrayView cutText(QByteArrayView text, qsizetype limit)
{
    if (text.size() <= limit)
        return text;
    qsizetype end = limit;
    while (end > 0 && (uchar(text[end]) & 0xC0) == 0x80)
        --end;
    return text.first(end);
}

} // namespace

struct LogRing::Slot {
    qint64 msecs = 0;
    quint32 offset = 0; // of the text in the arena
    quint32 lengthAndFlag = 0; // text length; errorFlag for error lines

    quint32 length() const { return lengthAndFlag & ~errorFlag; }
    bool isError() const { return lengthAndFlag & errorFlag; }
};

// The lines live in `entries`, a circular buffer of at most the ring's capacity
// (linear while it fills), and their texts in `bytes`, a circular byte arena:
// texts are placed one after the other; one that does not fit before the end
// of the arena goes to its start if the oldest text begins far enough in
// ("wrapped": the texts then run from the oldest one to the arena's end and on
// from its start to `tail`). When no gap is big enough the arena is moved into
// a larger one (texts laid out afresh in order); it is moved into a smaller
// one when less than a quarter of it is in use.
struct LogRing::Data : QSharedData {
    std::vector<Slot> entries;
    int head = 0; // slot of the oldest line
    int size = 0;
    std::unique_ptr<char[]> bytes;
    quint32 byteCapacity = 0;
    quint32 tail = 0; // where the text after the newest one may begin
    int upperCount = 0; // while wrapped: lines still placed before the wrap; 0 otherwise
    quint64 liveBytes = 0;
    quint64 firstSeq = 0; // of the oldest line; the others follow one by one

    Data() = default;
    Data(const Data& other)
        : QSharedData(other)
    {
        // A copy is about to be written: keep its room, lay it out afresh.
        entries.reserve(other.entries.capacity());
        bytes = std::make_unique_for_overwrite<char[]>(other.byteCapacity);
        byteCapacity = other.byteCapacity;
        for (int i = 0; i < other.size; ++i) {
            Slot line = other.at(i);
            if (line.length())
                std::memcpy(bytes.get() + tail, other.bytes.get() + line.offset, line.length());
            line.offset = tail;
            tail += line.length();
            entries.push_back(line);
        }
        size = other.size;
        liveBytes = other.liveBytes;
        firstSeq = other.firstSeq;
    }
    Data& operator=(const Data&) = delete;

    std::size_t physical(int index) const
    {
        int position = head + index;
        if (position >= int(entries.size()))
            position -= int(entries.size());
        return std::size_t(position);
    }
    const Slot& at(int index) const { return entries[physical(index)]; }
    Slot& at(int index) { return entries[physical(index)]; }

    void dropOldest()
    {
        liveBytes -= entries[std::size_t(head)].length();
        if (++head == int(entries.size()))
            head = 0;
        --size;
        ++firstSeq;
        if (upperCount > 0)
            --upperCount;
        if (size == 0)
            empty();
    }

    // Forgets every line but keeps the memory.
    void empty()
    {
        head = 0;
        size = 0;
        tail = 0;
        upperCount = 0;
        liveBytes = 0;
    }

    void push(const Slot& line)
    {
        if (size < int(entries.size())) {
            entries[physical(size)] = line;
        } else {
            // Still filling: the entries are linear with head == 0.
            entries.push_back(line);
        }
        ++size;
        liveBytes += line.length();
    }

    // Room for the text to come, `lineCapacity` being the ring's line limit.
    quint32 place(quint32 length, int lineCapacity)
    {
        if (byteCapacity > shrinkAboveBytes && (liveBytes + length) * 4 < byteCapacity) {
            // Mostly empty (long lines gave way to short ones): move into less.
            relocate(arenaBytesFor(length, lineCapacity));
            return take(tail, length);
        }
        if (upperCount == 0) {
            if (quint64(tail) + length <= byteCapacity)
                return take(tail, length);
            if (size > 0 && length <= at(0).offset) {
                upperCount = size;
                return take(0, length);
            }
        } else if (quint64(tail) + length <= at(0).offset) {
            return take(tail, length);
        }
        const quint64 grown = std::max<quint64>(arenaBytesFor(length, lineCapacity), byteCapacity + byteCapacity / 16);
        relocate(quint32(std::min<quint64>(grown, std::numeric_limits<quint32>::max())));
        return take(tail, length);
    }

    quint32 take(quint32 offset, quint32 length)
    {
        tail = offset + length;
        return offset;
    }

    // An arena size for the live texts plus `length`: a sixteenth to spare; while
    // the log fills, up to twice that, aiming at the size the full log will
    // need at the present average line length, so that filling moves it a few
    // times only.
    quint32 arenaBytesFor(quint32 length, int lineCapacity) const
    {
        const quint64 needed = liveBytes + length;
        quint64 bytesWanted = needed + needed / 16;
        if (size + 1 < lineCapacity) {
            const quint64 expected = needed / quint64(size + 1) * quint64(lineCapacity);
            bytesWanted = std::max(bytesWanted, std::min(needed * 2, expected + expected / 16));
        }
        return quint32(std::clamp<quint64>(bytesWanted, minimumArenaBytes, std::numeric_limits<quint32>::max()));
    }

    void relocate(quint32 newCapacity)
    {
        auto moved = std::make_unique_for_overwrite<char[]>(newCapacity);
        quint32 offset = 0;
        for (int i = 0; i < size; ++i) {
            Slot& line = at(i);
            if (line.length())
                std::memcpy(moved.get() + offset, bytes.get() + line.offset, line.length());
            line.offset = offset;
            offset += line.length();
        }
        bytes = std::move(moved);
        byteCapacity = newCapacity;
        tail = offset;
        upperCount = 0;
    }
};

LogRing::LogRing(const QUuid& serverId, int capacity)
    : m_capacity(std::max(1, capacity))
    , m_ids(serverId)
{
}

LogRing::LogRing(const LogRing& other) = default;
LogRing::LogRing(LogRing&& other) noexcept = default;
LogRing& LogRing::operator=(const LogRing& other) = default;
LogRing& LogRing::operator=(LogRing&& other) noexcept = default;
LogRing::~LogRing() = default;

int LogRing::size() const
{
    return d ? d->size : 0;
}

const LogRing::Slot& LogRing::slot(int index) const
{
    Q_ASSERT(d && index >= 0 && index < d->size);
    return d->at(index);
}

LogLine LogRing::at(int index) const
{
    const Slot& line = slot(index);
    const quint64 seq = d->firstSeq + quint64(index);
    return LogLine { m_ids.id(seq), QDateTime::fromMSecsSinceEpoch(line.msecs),
        QString::fromUtf8(d->bytes.get() + line.offset, qsizetype(line.length())), line.isError(), seq };
}

quint64 LogRing::seqAt(int index) const
{
    Q_ASSERT(d && index >= 0 && index < d->size);
    return d->firstSeq + quint64(index);
}

qint64 LogRing::msecsAt(int index) const
{
    return slot(index).msecs;
}

bool LogRing::isErrorAt(int index) const
{
    return slot(index).isError();
}

QByteArrayView LogRing::textAt(int index) const
{
    const Slot& line = slot(index);
    return QByteArrayView(d->bytes.get() + line.offset, qsizetype(line.length()));
}

int LogRing::indexAfterSeq(quint64 seq) const
{
    if (isEmpty() || seq < d->firstSeq)
        return 0;
    return int(std::min<quint64>(seq - d->firstSeq + 1, quint64(d->size)));
}

void LogRing::append(QByteArrayView text, qint64 msecsSinceEpoch, bool isError, quint64 seq)
{
    text = cutText(text, maxTextBytes);
    if (!d)
        d = new Data;
    Data& data = *d; // detaches from copies
    const auto length = quint32(text.size());
    if (data.size > 0 && seq != data.firstSeq + quint64(data.size)) {
        // Not the next line: a new run begins (see append()'s comment).
        data.empty();
    }
    if (data.size == 0)
        data.firstSeq = seq;
    if (data.size >= m_capacity)
        data.dropOldest();
    while (data.size > 0 && data.liveBytes + length > maxArenaBytes)
        data.dropOldest();
    const quint32 offset = data.place(length, m_capacity);
    if (length)
        std::memcpy(data.bytes.get() + offset, text.data(), length);
    data.push(Slot { msecsSinceEpoch, offset, length | (isError ? errorFlag : 0u) });
}

void LogRing::append(const QString& text, const QDateTime& date, bool isError, quint64 seq)
{
    append(QByteArrayView(text.toUtf8()), date.toMSecsSinceEpoch(), isError, seq);
}

void LogRing::clear()
{
    d.reset();
}

QList<LogLine> LogRing::toList() const
{
    QList<LogLine> lines;
    lines.reserve(size());
    for (const LogLine& line : *this)
        lines.append(line);
    return lines;
}

qsizetype LogRing::memoryBytes() const
{
    if (!d)
        return 0;
    return qsizetype(d->entries.capacity() * sizeof(Slot) + d->byteCapacity + sizeof(Data));
}

bool operator==(const LogRing& a, const LogRing& b)
{
    if (a.m_capacity != b.m_capacity || a.size() != b.size())
        return false;
    if (a.isEmpty() || a.d == b.d)
        return a.isEmpty() || a.m_ids == b.m_ids;
    if (!(a.m_ids == b.m_ids) || a.d->firstSeq != b.d->firstSeq)
        return false;
    for (int i = 0; i < a.size(); ++i) {
        const LogRing::Slot& x = a.d->at(i);
        const LogRing::Slot& y = b.d->at(i);
        if (x.msecs != y.msecs || x.lengthAndFlag != y.lengthAndFlag || a.textAt(i) != b.textAt(i))
            return false;
    }
    return true;
}

} // namespace Wardlamp
