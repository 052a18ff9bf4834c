#pragma once

#include "platform/SecretStore.h"

#include <QString>

namespace Wardlamp {

// The secret store of last resort, for machines where no Secret Service answers
// (containers, SSH boxes): one JSON file, {"<account>": "<standard base64>"},
// readable by the user alone (0600 in a 0700 directory), replaced atomically on
// every write. A file that cannot be parsed is moved aside to "<path>.unreadable"
// before the first write replaces it, so nothing is silently destroyed.
// Main thread.
class FileSecretStore : public SecretStore {
public:
    explicit FileSecretStore(QString path);

    // $XDG_DATA_HOME/wardlamp/secrets (~/.local/share when unset or relative).
    static QString defaultPath();

    Expected<QByteArray, SecretStoreError> read(const QString& account) override;
    bool write(const QString& account, const QByteArray& data) override;
    QString describe() const override;

    QString path() const { return m_path; }

private:
    QString m_path;
};

} // namespace Wardlamp
