#pragma once

#include "common/Expected.h"
#include "daemon/DaemonPluginApi.h"

#include <QString>

#include <memory>

class QLibrary;

namespace Wardlamp {

// One plugin library of wardlampd (see DaemonPluginApi), looked for beside the
// executable and loaded for the rest of the process (never unloaded: objects
// it made may live until exit). Main thread.
class DaemonPlugin {
public:
    static constexpr QLatin1StringView remote { "wardlampd-remote" };
    static constexpr QLatin1StringView notify { "wardlampd-notify" };

    // The plugin `name` from the directory of the running executable, or a
    // one-line reason why it cannot be used (missing file, unresolved
    // symbol, wrong version).
    static Expected<DaemonPlugin, QString> load(QLatin1StringView name);
    // The same from `directory`.
    static Expected<DaemonPlugin, QString> load(QLatin1StringView name, const QString& directory);

    const DaemonPluginApi& api() const { return *m_api; }
    QString path() const { return m_path; }

    // Whether remote access is switched on for this run: WL_REMOTE_ENABLED
    // when set, else the saved setting.
    static bool remoteAccessWanted(const QSettings& settings, const QProcessEnvironment& environment);

private:
    DaemonPlugin(const DaemonPluginApi* api, QString path)
        : m_api(api)
        , m_path(std::move(path))
    {
    }

    const DaemonPluginApi* m_api;
    QString m_path;
};

} // namespace Wardlamp
