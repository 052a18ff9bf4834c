#pragma once

#include "platform/SecretStore.h"

#include <chrono>
#include <memory>

namespace Wardlamp {

namespace Detail {
struct KeychainWorker;
}

// The freedesktop Secret Service through QtKeychain (libsecret backend, no
// insecure fallback), service "com.velmora.wardlamp.remote", one item per
// account.
//
// The Secret Service may take its time: a locked collection can raise an unlock
// prompt that nobody answers on a headless machine. So every job runs on a
// worker thread (one per process) and the caller waits at most `timeout`; a job that has
// not finished by then is reported `unavailable` and its late result is dropped.
// Construct it only when org.freedesktop.secrets is already registered on the
// session bus (SecretStores::open checks), so no call triggers D-Bus activation.
class KeychainSecretStore final : public SecretStore {
public:
    explicit KeychainSecretStore(std::chrono::milliseconds timeout = std::chrono::seconds(5));
    ~KeychainSecretStore() override;
    KeychainSecretStore(const KeychainSecretStore&) = delete;
    KeychainSecretStore& operator=(const KeychainSecretStore&) = delete;

    Expected<QByteArray, SecretStoreError> read(const QString& account) override;
    bool write(const QString& account, const QByteArray& data) override;
    QString describe() const override;

private:
    std::chrono::milliseconds m_timeout;
    Detail::KeychainWorker* m_worker; // shared by every instance, lives as long as the process
};

} // namespace Wardlamp
