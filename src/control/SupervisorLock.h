#pragma once

#include "common/Expected.h"
#include "control/LockHolder.h"

#include <QString>

#include <chrono>
#include <optional>

namespace Wardlamp {

struct ControlPaths;

// The lock that makes one process the supervisor of a configuration (or, for
// a moment, the one editor of its saved settings while nothing supervises).
// An flock() on the configuration's lock file: the kernel drops it when the
// holder exits however it ends, so a lock left by a killed process never
// blocks. The holder writes who it is into the file for the refusal message.
// The descriptor is close-on-exec, so servers never inherit the lock.
//
// Move-only; destroying the value releases the lock. Any thread, one owner.
class SupervisorLock {
public:
    using Role = LockHolder::Role;

    // Why the lock was not had: someone holds it (`holder`, as it described
    // itself when it could be read), or the lock file cannot be used (`problem`).
    struct Refusal {
        std::optional<LockHolder> holder;
        QString problem;
    };

    // Takes the lock without waiting for a supervisor; an editor's hold is
    // waited out for up to `patience` (edits last milliseconds).
    static Expected<SupervisorLock, Refusal> acquire(const ControlPaths& paths, Role role, const QString& program,
        std::chrono::milliseconds patience = std::chrono::seconds(5));

    // Who holds the lock now, if anyone does.
    static std::optional<LockHolder> currentHolder(const ControlPaths& paths);

    SupervisorLock(SupervisorLock&& other) noexcept;
    SupervisorLock& operator=(SupervisorLock&& other) noexcept;
    SupervisorLock(const SupervisorLock&) = delete;
    SupervisorLock& operator=(const SupervisorLock&) = delete;
    ~SupervisorLock();

    const LockHolder& holder() const { return m_holder; }
    // Turns an editor's hold into a supervisor's (or back) and says so in the file.
    void setRole(Role role);

private:
    SupervisorLock(int fd, LockHolder holder);
    void writeHolder();

    int m_fd = -1;
    LockHolder m_holder;
};

} // namespace Wardlamp
