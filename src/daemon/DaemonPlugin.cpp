#include "DaemonPlugin.h"

#include "agent/PairingStore.h"
#include "supervision/SettingsFlag.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibrary>
#include <QProcessEnvironment>
#include <QSettings>

namespace Wardlamp {

using namespace Qt::StringLiterals;

Expected<DaemonPlugin, QString> DaemonPlugin::load(QLatin1StringView name)
{
    // Beside wardlampd in the build tree, in <libdir>/wardlamp once installed.
    const QString here = QCoreApplication::applicationDirPath();
    const QString installed = QDir::cleanPath(here + u"/"_s + QStringLiteral(WL_PLUGIN_DIR_FROM_BIN));
    if (!QFileInfo::exists(here + u'/' + name + u".so"_s) && QFileInfo::exists(installed + u'/' + name + u".so"_s))
        return load(name, installed);
    return load(name, here);
}

Expected<DaemonPlugin, QString> DaemonPlugin::load(QLatin1StringView name, const QString& directory)
{
    const QString path = directory + u'/' + name + u".so"_s;
    if (!QFileInfo::exists(path))
        return QString(u"%1 is missing (it is built beside wardlampd)"_s.arg(path));
    // The library stays loaded for the life of the process: a QLibrary only
    // unloads on an explicit unload(), not when it is destroyed.
    QLibrary library(path);
    // Every symbol bound now: one that wardlampd lacks is a reason here, not a
    // crash at its first call.
    library.setLoadHints(QLibrary::ResolveAllSymbolsHint);
    using Entry = const DaemonPluginApi* (*)();
    const auto entry = reinterpret_cast<Entry>(library.resolve("wardlampdPlugin"));
    if (!entry)
        return QString(u"%1 cannot be loaded: %2"_s.arg(path, library.errorString()));
    const DaemonPluginApi* api = entry();
    if (!api || api->version != DaemonPluginApi::currentVersion)
        return QString(u"%1 is from another build of wardlampd"_s.arg(path));
    const bool complete = name == remote ? api->runRemoteCommand && api->createRemoteAccess
        : name == notify                 ? api->createNotifier != nullptr
                                         : true;
    if (!complete)
        return QString(u"%1 is not the %2 plugin"_s.arg(path, name));
    return DaemonPlugin(api, path);
}

bool DaemonPlugin::remoteAccessWanted(const QSettings& settings, const QProcessEnvironment& environment)
{
    if (environment.contains(u"WL_REMOTE_ENABLED"_s))
        return readEnvironmentFlag(environment.value(u"WL_REMOTE_ENABLED"_s));
    return readSettingsFlag(settings.value(PairingStore::enabledKey));
}

} // namespace Wardlamp
