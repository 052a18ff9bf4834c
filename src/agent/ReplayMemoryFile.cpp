#include "ReplayMemoryFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <sys/stat.h>

namespace Wardlamp {

namespace {
const QByteArray header = QByteArrayLiteral("wardlamp-replay-memory 1");
// 4,096 nonces of 12 bytes are about 70 KiB as lines: anything far larger is not ours.
constexpr qint64 maxFileBytes = 4 * 1024 * 1024;
} // namespace

ReplayMemoryFile::ReplayMemoryFile(QString path)
    : m_path(std::move(path))
{
}

QList<QByteArray> ReplayMemoryFile::load(int capacity) const
{
    QFile file(m_path);
    if (!file.open(QIODevice::ReadOnly) || file.size() > maxFileBytes)
        return {};
    const QList<QByteArray> lines = file.readAll().split('\n');
    if (lines.isEmpty() || lines.first() != header)
        return {};
    QList<QByteArray> nonces;
    for (qsizetype i = 1; i < lines.size(); ++i) {
        if (lines.at(i).isEmpty())
            continue;
        const auto decoded = QByteArray::fromBase64Encoding(lines.at(i), QByteArray::AbortOnBase64DecodingErrors);
        if (decoded && !decoded.decoded.isEmpty())
            nonces.append(decoded.decoded);
    }
    if (nonces.size() > capacity)
        nonces = nonces.mid(nonces.size() - capacity);
    return nonces;
}

bool ReplayMemoryFile::save(const std::deque<QByteArray>& nonces) const
{
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    QSaveFile file(m_path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    // User-only before a byte is written; the rename keeps the mode.
    if (::fchmod(file.handle(), S_IRUSR | S_IWUSR) != 0) {
        file.cancelWriting();
        return false;
    }
    QByteArray text = header + '\n';
    for (const QByteArray& nonce : nonces)
        text += nonce.toBase64() + '\n';
    file.write(text);
    return file.commit();
}

void ReplayMemoryFile::remove() const
{
    QFile::remove(m_path);
}

} // namespace Wardlamp
