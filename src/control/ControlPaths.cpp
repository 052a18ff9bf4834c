#include "ControlPaths.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QProcessEnvironment>

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// sun_path holds the path and its terminating NUL.
constexpr qsizetype maxSocketPathBytes = qsizetype(sizeof(sockaddr_un::sun_path)) - 1;

} // namespace

QStringList ControlPaths::candidateDirectories(const QProcessEnvironment& environment)
{
    QStringList directories;
    const QString runtime = environment.value(u"XDG_RUNTIME_DIR"_s);
    // The runtime folder must be absolute to count, as for the other XDG folders.
    if (!runtime.isEmpty() && QDir::isAbsolutePath(runtime))
        directories.append(QDir::cleanPath(runtime + u"/wardlamp"_s));
    directories.append(u"/tmp/wardlamp-"_s + QString::number(::geteuid()));
    return directories;
}

QString ControlPaths::keyOf(const QString& canonicalSettingsFile)
{
    const QByteArray digest = QCryptographicHash::hash(canonicalSettingsFile.toUtf8(), QCryptographicHash::Sha256);
    return QString::fromLatin1(digest.left(8).toHex());
}

std::optional<QString> ControlPaths::makePrivate(const QString& directory)
{
    const QByteArray path = QFile::encodeName(directory);
    if (::mkdir(path.constData(), 0700) != 0 && errno != EEXIST)
        return u"cannot create %1: %2"_s.arg(directory, errnoText(errno));
    struct stat info { };
    if (::lstat(path.constData(), &info) != 0)
        return u"cannot look at %1: %2"_s.arg(directory, errnoText(errno));
    if (!S_ISDIR(info.st_mode))
        return u"%1 is not a directory"_s.arg(directory);
    if (info.st_uid != ::geteuid())
        return u"%1 belongs to another user"_s.arg(directory);
    if ((info.st_mode & 077) != 0 && ::chmod(path.constData(), 0700) != 0)
        return u"cannot make %1 private: %2"_s.arg(directory, errnoText(errno));
    return std::nullopt;
}

Expected<ControlPaths, QString> ControlPaths::resolve(
    const QString& settingsFile, const QProcessEnvironment& environment)
{
    const QFileInfo settings(settingsFile);
    const QString settingsDirectory = settings.absolutePath();
    // The folder is made so that its canonical path exists: a configuration
    // reached through a symlinked folder is the same configuration.
    QDir().mkpath(settingsDirectory);
    const QString canonicalDirectory = QFileInfo(settingsDirectory).canonicalFilePath();
    ControlPaths paths;
    paths.settingsFile = QDir::cleanPath(
        (canonicalDirectory.isEmpty() ? settingsDirectory : canonicalDirectory) + u'/' + settings.fileName());
    paths.key = keyOf(paths.settingsFile);

    QStringList problems;
    for (const QString& directory : candidateDirectories(environment)) {
        const QString socketFile = directory + u'/' + paths.key + u".sock"_s;
        if (QFile::encodeName(socketFile).size() > maxSocketPathBytes) {
            problems.append(u"%1 is too long a path for a socket"_s.arg(socketFile));
            continue;
        }
        if (const auto problem = makePrivate(directory)) {
            problems.append(*problem);
            continue;
        }
        paths.directory = directory;
        paths.socketFile = socketFile;
        paths.lockFile = directory + u'/' + paths.key + u".lock"_s;
        return paths;
    }
    return QString(u"no private folder for the control socket: "_s + problems.join(u"; "_s));
}

} // namespace Wardlamp
