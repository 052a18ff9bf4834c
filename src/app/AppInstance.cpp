#include "AppInstance.h"

#include "control/ControlClient.h"
#include "platform/SettingsLocation.h"

#include <QDeadlineTimer>
#include <QJsonObject>
#include <QProcessEnvironment>
#include <QThread>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString AppInstance::verbFor(const AppOptions& options)
{
    return options.action == AppOptions::Action::quit ? u"quit"_s : u"show"_s;
}

std::variant<AppInstance::Supervise, int> AppInstance::claim(const AppOptions& options, const Say& say)
{
    const Expected<ControlPaths, QString> paths
        = ControlPaths::resolve(SettingsLocation::filePath(), QProcessEnvironment::systemEnvironment());
    if (!paths) {
        say(u"cannot take this configuration's lock: "_s + paths.error());
        return AppExit::failed;
    }
    Expected<SupervisorLock, SupervisorLock::Refusal> lock
        = SupervisorLock::acquire(*paths, LockHolder::Role::supervisor, u"wardlamp"_s);
    if (lock) {
        if (options.action == AppOptions::Action::quit) {
            say(u"Wardlamp is not running; nothing to quit"_s);
            return AppExit::ok;
        }
        return Supervise { *paths, std::move(*lock) };
    }

    const std::optional<LockHolder>& holder = lock.error().holder;
    if (!holder) {
        say(u"cannot take this configuration's lock: "_s + lock.error().problem);
        return AppExit::failed;
    }
    if (holder->program != u"wardlamp"_s || holder->role != LockHolder::Role::supervisor) {
        say(holder->describe() + u" supervises this configuration ("_s + paths->settingsFile
            + u"); stop it first (for the user unit: systemctl --user stop wardlampd), or give this run an "
              "XDG_CONFIG_HOME of its own"_s);
        return AppExit::otherSupervisor;
    }

    // The app runs: hand it the request. It takes the lock before it listens,
    // so one that is still starting (autostart and a click at once) is waited for.
    auto client = ControlClient::connect(paths->socketFile);
    const QDeadlineTimer startingPatience(std::chrono::seconds(15));
    while (!client && client.error().problem == ControlClient::Problem::noServer && !startingPatience.hasExpired()
        && SupervisorLock::currentHolder(*paths).has_value()) {
        QThread::msleep(50);
        client = ControlClient::connect(paths->socketFile);
    }
    if (!client) {
        say(u"Wardlamp runs ("_s + holder->describe() + u") but cannot be reached: "_s + client.error().message);
        return AppExit::failed;
    }
    QJsonObject args;
    if (options.action != AppOptions::Action::quit)
        args.insert(u"surface"_s, AppOptions::surfaceName(options.surface));
    const auto reply = client->call(verbFor(options), args);
    if (!reply) {
        say(u"Wardlamp ("_s + holder->describe() + u") did not answer: "_s + reply.error().message);
        return AppExit::failed;
    }
    if (!reply->ok) {
        say(u"Wardlamp ("_s + holder->describe() + u") refused: "_s + reply->error.message);
        return AppExit::failed;
    }
    if (options.action == AppOptions::Action::quit) {
        // Done when the app is gone, its servers stopped: the lock is free then.
        QDeadlineTimer deadline(std::chrono::seconds(30));
        while (SupervisorLock::currentHolder(*paths)) {
            if (deadline.hasExpired()) {
                say(u"Wardlamp ("_s + holder->describe() + u") is still stopping its servers"_s);
                return AppExit::failed;
            }
            QThread::msleep(50);
        }
    }
    return AppExit::ok;
}

} // namespace Wardlamp
