#pragma once

#include <QByteArrayView>
#include <QDateTime>

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

// Every line appended to one server's log in one batch, in order, including the
// lines that the 2000-line cap evicted within that same batch. Handed out
// synchronously (ServerManager::linesCaptured); copy what you need to keep.
struct LineBatch {
    QDateTime date; // the date given to every line of the batch
    std::span<const CapturedLine> lines;
};

} // namespace Wardlamp
