#pragma once

#include <QString>

#include <functional>

class QProcessEnvironment;

namespace Wardlamp {

// The shell a server command runs through (with -lic, so the user's login
// profile and interactive rc files set PATH, nvm and friends): $SHELL when
// set and not empty, else the user database's entry for this user, else
// "/bin/zsh" when that exists, else "/bin/sh" (present on every system, so a
// machine without zsh still runs its servers). Stateless and thread-safe.
class LoginShell {
public:
    // The shell of the user database entry of the real user id, empty when
    // there is none or its shell field is empty.
    static QString userDatabaseShell();

    static QString resolve(const QProcessEnvironment& environment);
    // The same with the user database and the file system passed in (tests).
    static QString resolve(const QProcessEnvironment& environment, const std::function<QString()>& userDatabaseShell,
        const std::function<bool(const QString&)>& fileExists);

    // resolve() of this process's environment, worked out on first use and
    // kept for the life of the process, as executables want it.
    static QString path();
};

} // namespace Wardlamp
