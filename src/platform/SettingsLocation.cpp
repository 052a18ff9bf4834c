#include "SettingsLocation.h"

#include <QDir>
#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString SettingsLocation::filePath()
{
    return filePath(QProcessEnvironment::systemEnvironment(), QDir::homePath());
}

QString SettingsLocation::configHome(const QProcessEnvironment& environment, const QString& home)
{
    QString configHome = environment.value(u"XDG_CONFIG_HOME"_s);
    // XDG base directories must be absolute: a relative value is ignored.
    if (configHome.isEmpty() || QDir::isRelativePath(configHome))
        configHome = home + u"/.config"_s;
    return QDir::cleanPath(configHome);
}

QString SettingsLocation::filePath(const QProcessEnvironment& environment, const QString& home)
{
    return QDir::cleanPath(configHome(environment, home) + u"/wardlamp/wardlamp.conf"_s);
}

std::unique_ptr<QSettings> SettingsLocation::open()
{
    return std::make_unique<QSettings>(filePath(), QSettings::IniFormat);
}

} // namespace Wardlamp
