#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>

#include <cmath>
#include <cstdlib>

namespace Wardlamp::Test {

TestEnvironment::TestEnvironment()
    : m_dir(QDir::tempPath() + QStringLiteral("/wardlamp-test-XXXXXX"))
{
    const QString root = m_dir.path();
    for (const char* sub : { ".config", ".local/share", ".cache", "runtime" })
        QDir(root).mkpath(QString::fromLatin1(sub));
    QFile::setPermissions(root + QStringLiteral("/runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("HOME", root.toUtf8());
    qputenv("XDG_CONFIG_HOME", (root + QStringLiteral("/.config")).toUtf8());
    qputenv("XDG_DATA_HOME", (root + QStringLiteral("/.local/share")).toUtf8());
    qputenv("XDG_CACHE_HOME", (root + QStringLiteral("/.cache")).toUtf8());
    // Keep a bus and keyring the session provides; only the runtime dir of a
    // missing session is replaced so Qt does not complain about it.
    if (qEnvironmentVariableIsEmpty("XDG_RUNTIME_DIR"))
        qputenv("XDG_RUNTIME_DIR", (root + QStringLiteral("/runtime")).toUtf8());
}

TestEnvironment::~TestEnvironment() = default;

QString TestEnvironment::home() const
{
    return m_dir.path();
}

QString TestEnvironment::configHome() const
{
    return m_dir.path() + QStringLiteral("/.config");
}

QString TestEnvironment::path(const QString& relative) const
{
    return m_dir.filePath(relative);
}

double timeoutFactor()
{
    bool ok = false;
    const double factor = qEnvironmentVariable("WL_TIMEOUT_FACTOR").toDouble(&ok);
    return ok && factor > 0 ? factor : 1.0;
}

int waitMs(int baseMs)
{
    return static_cast<int>(std::lround(baseMs * timeoutFactor()));
}

quint16 freeTcpPort()
{
    QTcpServer server;
    if (!server.listen(QHostAddress::LocalHost, 0))
        return 0;
    return server.serverPort();
}

QString binDir()
{
    const QString dir = qEnvironmentVariable("WL_TEST_BIN_DIR");
    return dir.isEmpty() ? QCoreApplication::applicationDirPath() : dir;
}

QString program(const QString& name)
{
    return binDir() + QLatin1Char('/') + name;
}

} // namespace Wardlamp::Test
