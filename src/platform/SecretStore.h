#pragma once

#include "common/Expected.h"

#include <QByteArray>
#include <QLatin1StringView>
#include <QString>

namespace Wardlamp {

enum class SecretStoreError {
    notFound, // the store answered: no such item
    unavailable, // no answer in time, locked, refused, or unreadable
};

// A per-user store of small secret items (the pairing secret, the password),
// one item per account name under one service name. Calls are synchronous and
// bounded: an implementation that talks to another process gives up after its
// own timeout and reports `unavailable`, it never blocks indefinitely.
// Main thread; not shared between threads.
class SecretStore {
public:
    static constexpr QLatin1StringView service { "com.velmora.wardlamp.remote" };

    virtual ~SecretStore() = default;

    virtual Expected<QByteArray, SecretStoreError> read(const QString& account) = 0;
    // Replaces the item; false when the store did not confirm the write.
    virtual bool write(const QString& account, const QByteArray& data) = 0;
    // A short description for diagnostics ("Secret Service", a file path).
    virtual QString describe() const = 0;
};

} // namespace Wardlamp
