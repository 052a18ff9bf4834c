#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUuid>

#include <optional>

class QDateTime;

namespace Wardlamp {

// One server as a front door lists it: its configuration and what it is doing.
// wardlampd builds rows from its supervisor, wardlamp-remote from a snapshot;
// fields a source does not know (restarts and ports over the relay) stay
// unset and are left out of what is printed.
//
// JSON (`ls --json`, and the control socket's `ls` reply): "id" (upper-case
// UUID text), "name", "command", "status" ("stopped", "running", "error"),
// "hasError"; optionally "directory", "tunnelHostname", "pid", "startedAt"
// (milliseconds since 1970), "uptimeSeconds" (while running, when written),
// "lastExitCode", "restarts", "ports" (array of numbers).
struct ServerRow {
    enum class Status { stopped, running, error };

    QUuid id;
    QString name;
    QString command;
    std::optional<QString> directory;
    std::optional<QString> tunnelHostname;
    Status status = Status::stopped;
    bool hasError = false;
    std::optional<qint32> pid;
    std::optional<double> startedAtMs;
    std::optional<qint32> lastExitCode;
    std::optional<int> restarts;
    std::optional<QList<quint16>> ports;

    static QString statusWord(Status status);
    static std::optional<Status> statusFromWord(QStringView word);

    // Seconds it has been up, or nothing when it is not running or has no start time.
    std::optional<qint64> uptimeSeconds(const QDateTime& now) const;

    QJsonObject toJson(const QDateTime& now) const;
    // Nothing when a required key is missing or of the wrong type.
    static std::optional<ServerRow> fromJson(const QJsonObject& object);

    friend bool operator==(const ServerRow&, const ServerRow&) = default;
};

} // namespace Wardlamp
