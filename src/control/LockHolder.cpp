#include "LockHolder.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QByteArray LockHolder::encode() const
{
    const QJsonObject object {
        { u"pid"_s, pid },
        { u"program"_s, program },
        { u"role"_s, role == Role::editor ? u"editor"_s : u"supervisor"_s },
        { u"settings"_s, settingsFile },
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact) + '\n';
}

std::optional<LockHolder> LockHolder::decode(QByteArrayView line)
{
    const QJsonDocument document = QJsonDocument::fromJson(line.trimmed().toByteArray());
    if (!document.isObject())
        return std::nullopt;
    const QJsonObject object = document.object();
    const QJsonValue pid = object.value(QLatin1StringView("pid"));
    const QJsonValue role = object.value(QLatin1StringView("role"));
    if (!pid.isDouble() || pid.toDouble() < 1 || pid.toDouble() > 4194304 || !role.isString())
        return std::nullopt;
    LockHolder holder;
    holder.pid = qint64(pid.toDouble());
    if (role.toString() == u"supervisor"_s)
        holder.role = Role::supervisor;
    else if (role.toString() == u"editor"_s)
        holder.role = Role::editor;
    else
        return std::nullopt;
    holder.program = object.value(QLatin1StringView("program")).toString();
    holder.settingsFile = object.value(QLatin1StringView("settings")).toString();
    return holder;
}

QString LockHolder::describe() const
{
    const QString who = program.isEmpty() ? u"another Wardlamp"_s : program;
    return who + (pid > 0 ? u" (pid %1)"_s.arg(pid) : u" (pid unknown)"_s);
}

} // namespace Wardlamp
