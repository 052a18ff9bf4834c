#include "platform/LoginShell.h"

#include <QFileInfo>
#include <QProcessEnvironment>

#include <cerrno>
#include <pwd.h>
#include <unistd.h>
#include <vector>

namespace Wardlamp {

namespace {

const QString fallbackShell = QStringLiteral("/bin/zsh");
const QString lastResortShell = QStringLiteral("/bin/sh");

} // namespace

QString LoginShell::userDatabaseShell()
{
    // getpwuid_r: getpwuid's static buffer is not safe beside other threads.
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0)
        size = 16384;
    std::vector<char> buffer(static_cast<size_t>(size));
    passwd entry {};
    passwd* result = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == ERANGE
        && buffer.size() < 1024 * 1024)
        buffer.resize(buffer.size() * 2);
    if (!result || !result->pw_shell)
        return {};
    return QString::fromLocal8Bit(result->pw_shell);
}

QString LoginShell::resolve(const QProcessEnvironment& environment)
{
    return resolve(
        environment, &LoginShell::userDatabaseShell, [](const QString& path) { return QFileInfo::exists(path); });
}

QString LoginShell::resolve(const QProcessEnvironment& environment, const std::function<QString()>& userDatabaseShell,
    const std::function<bool(const QString&)>& fileExists)
{
    const QString fromEnvironment = environment.value(QStringLiteral("SHELL"));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const QString fromDatabase = userDatabaseShell ? userDatabaseShell() : QString();
    if (!fromDatabase.isEmpty())
        return fromDatabase;
    return fileExists && fileExists(fallbackShell) ? fallbackShell : lastResortShell;
}

QString LoginShell::path()
{
    static const QString shell = resolve(QProcessEnvironment::systemEnvironment());
    return shell;
}

} // namespace Wardlamp
