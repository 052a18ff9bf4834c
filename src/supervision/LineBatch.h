#pragma once

#include "CapturedLines.h"

#include <QDateTime>

namespace Wardlamp {

// Every line appended to one server's log in one batch, in order, including the
// lines that the 2000-line cap evicted within that same batch. Handed out
// synchronously (ServerManager::linesCaptured); copy what you need to keep.
struct LineBatch {
    QDateTime date; // the date given to every line of the batch
    CapturedLines lines;
};

} // namespace Wardlamp
