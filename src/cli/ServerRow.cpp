#include "ServerRow.h"

#include <QDateTime>
#include <QJsonArray>

#include <algorithm>
#include <cmath>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> optionalString(const QJsonObject& object, QLatin1StringView key, bool& ok)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    ok = ok && value.isString();
    return value.toString();
}

template <typename Int> std::optional<Int> optionalInteger(const QJsonObject& object, QLatin1StringView key, bool& ok)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return std::nullopt;
    const double number = value.toDouble(std::nan(""));
    if (!value.isDouble() || number != std::floor(number) || number < double(std::numeric_limits<Int>::min())
        || number > double(std::numeric_limits<Int>::max())) {
        ok = false;
        return std::nullopt;
    }
    return Int(number);
}

} // namespace

QString ServerRow::statusWord(Status status)
{
    switch (status) {
    case Status::stopped:
        return u"stopped"_s;
    case Status::running:
        return u"running"_s;
    case Status::error:
        return u"error"_s;
    }
    return u"stopped"_s;
}

std::optional<ServerRow::Status> ServerRow::statusFromWord(QStringView word)
{
    for (const Status status : { Status::stopped, Status::running, Status::error }) {
        if (word == statusWord(status))
            return status;
    }
    return std::nullopt;
}

std::optional<qint64> ServerRow::uptimeSeconds(const QDateTime& now) const
{
    if (status != Status::running || !startedAtMs)
        return std::nullopt;
    const qint64 startedMs = qint64(std::llround(*startedAtMs));
    return std::max<qint64>(0, (now.toMSecsSinceEpoch() - startedMs) / 1000);
}

QJsonObject ServerRow::toJson(const QDateTime& now) const
{
    QJsonObject object {
        { u"id"_s, id.toString(QUuid::WithoutBraces).toUpper() },
        { u"name"_s, name },
        { u"command"_s, command },
        { u"status"_s, statusWord(status) },
        { u"hasError"_s, hasError },
    };
    if (directory)
        object.insert(u"directory"_s, *directory);
    if (tunnelHostname)
        object.insert(u"tunnelHostname"_s, *tunnelHostname);
    if (pid)
        object.insert(u"pid"_s, *pid);
    if (startedAtMs)
        object.insert(u"startedAt"_s, *startedAtMs);
    if (const auto uptime = uptimeSeconds(now))
        object.insert(u"uptimeSeconds"_s, *uptime);
    if (lastExitCode)
        object.insert(u"lastExitCode"_s, *lastExitCode);
    if (restarts)
        object.insert(u"restarts"_s, *restarts);
    if (ports) {
        QJsonArray list;
        for (const quint16 port : *ports)
            list.append(int(port));
        object.insert(u"ports"_s, list);
    }
    return object;
}

std::optional<ServerRow> ServerRow::fromJson(const QJsonObject& object)
{
    ServerRow row;
    const QJsonValue id = object.value(QLatin1StringView("id"));
    const QJsonValue name = object.value(QLatin1StringView("name"));
    const QJsonValue command = object.value(QLatin1StringView("command"));
    const QJsonValue status = object.value(QLatin1StringView("status"));
    const QJsonValue hasError = object.value(QLatin1StringView("hasError"));
    if (!id.isString() || !name.isString() || !command.isString() || !status.isString() || !hasError.isBool())
        return std::nullopt;
    row.id = QUuid::fromString(id.toString());
    const auto statusValue = statusFromWord(status.toString());
    if (row.id.isNull() || !statusValue)
        return std::nullopt;
    row.name = name.toString();
    row.command = command.toString();
    row.status = *statusValue;
    row.hasError = hasError.toBool();

    bool ok = true;
    row.directory = optionalString(object, QLatin1StringView("directory"), ok);
    row.tunnelHostname = optionalString(object, QLatin1StringView("tunnelHostname"), ok);
    row.pid = optionalInteger<qint32>(object, QLatin1StringView("pid"), ok);
    row.lastExitCode = optionalInteger<qint32>(object, QLatin1StringView("lastExitCode"), ok);
    row.restarts = optionalInteger<int>(object, QLatin1StringView("restarts"), ok);
    const QJsonValue started = object.value(QLatin1StringView("startedAt"));
    if (started.isDouble())
        row.startedAtMs = started.toDouble();
    else if (!started.isUndefined() && !started.isNull())
        ok = false;
    const QJsonValue ports = object.value(QLatin1StringView("ports"));
    if (ports.isArray()) {
        QList<quint16> list;
        for (const QJsonValue port : ports.toArray()) {
            const int number = port.toInt(-1);
            if (number < 0 || number > 65535)
                return std::nullopt;
            list.append(quint16(number));
        }
        row.ports = list;
    } else if (!ports.isUndefined() && !ports.isNull()) {
        ok = false;
    }
    if (!ok)
        return std::nullopt;
    return row;
}

} // namespace Wardlamp
