#include "ServersFile.h"

#include "supervision/ServerConfig.h"

#include <QFile>
#include <QFileInfo>

namespace Wardlamp {

using namespace Qt::StringLiterals;

Expected<QByteArray, QString> ServersFile::read(const QString& path)
{
    const QString shown = path == u"-"_s ? u"standard input"_s : u"servers file \""_s + path + u'"';
    QFile file;
    if (path == u"-"_s) {
        if (!file.open(stdin, QIODevice::ReadOnly))
            return QString(u"cannot read standard input: "_s + file.errorString());
    } else {
        if (QFileInfo(path).isDir())
            return QString(shown + u" is a directory"_s);
        file.setFileName(path);
        if (!file.open(QIODevice::ReadOnly))
            return QString(u"cannot read "_s + shown + u": "_s + file.errorString());
    }
    const QByteArray bytes = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return QString(u"cannot read "_s + shown + u": "_s + file.errorString());
    if (bytes.size() > maxBytes)
        return QString(shown + u" is larger than 16 MiB"_s);
    const auto servers = ServerConfig::decodeList(bytes);
    if (!servers)
        return QString(shown + u": "_s + servers.error());
    if (const std::optional<QString> duplicate = ServerConfig::duplicateIds(*servers))
        return QString(shown + u": "_s + *duplicate);
    return bytes;
}

} // namespace Wardlamp
