#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QString>

namespace Wardlamp {

// Reads the JSON array of servers named by --servers ("-": standard input) and
// checks it completely before anything starts. The result is the file's bytes,
// or one line saying what is wrong with it.
class ServersFile {
public:
    // Larger files are refused rather than read into memory.
    static constexpr qint64 maxBytes = 16 * 1024 * 1024;

    static Expected<QByteArray, QString> read(const QString& path);
};

} // namespace Wardlamp
