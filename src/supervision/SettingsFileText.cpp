#include "SettingsFileText.h"

#include <QFile>
#include <QSaveFile>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

QByteArrayView trimmed(QByteArrayView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && (text[begin] == ' ' || text[begin] == '\t'))
        ++begin;
    while (end > begin && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r'))
        --end;
    return text.sliced(begin, end - begin);
}

std::optional<QByteArray> readAll(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return file.readAll();
}

} // namespace

std::optional<QByteArray> SettingsFileText::rawValue(QByteArrayView fileBytes, QStringView key)
{
    const QByteArray wanted = key.toUtf8();
    bool inGeneral = true; // keys before any section are General's
    std::optional<QByteArray> value;
    qsizetype lineStart = 0;
    while (lineStart <= fileBytes.size()) {
        qsizetype lineEnd = fileBytes.indexOf('\n', lineStart);
        if (lineEnd < 0)
            lineEnd = fileBytes.size();
        const QByteArrayView line = trimmed(fileBytes.sliced(lineStart, lineEnd - lineStart));
        lineStart = lineEnd + 1;
        if (line.startsWith('[')) {
            const qsizetype close = line.indexOf(']');
            inGeneral = close > 0 && line.sliced(1, close - 1).compare("General", Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inGeneral || line.startsWith(';') || line.startsWith('#'))
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals <= 0 || trimmed(line.first(equals)) != wanted)
            continue;
        value = trimmed(line.sliced(equals + 1)).toByteArray();
    }
    return value;
}

Expected<QString, SettingsFileText::CopyFailure> SettingsFileText::keepCopy(
    const QString& settingsFile, const QByteArray& bytes)
{
    const QString base = settingsFile + u".hand-written"_s;
    QString path = base;
    for (int n = 2; QFile::exists(path); ++n) {
        if (readAll(path) == bytes)
            return path; // kept already, by an earlier start
        path = base + u'.' + QString::number(n);
    }
    QSaveFile copy(path);
    if (!copy.open(QIODevice::WriteOnly) || copy.write(bytes) != bytes.size() || !copy.commit())
        return CopyFailure { u"cannot write "_s + path + u": "_s + copy.errorString() };
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
    // Only a copy that reads back the same is called kept.
    if (readAll(path) != bytes)
        return CopyFailure { path + u" does not read back as written"_s };
    return path;
}

} // namespace Wardlamp
