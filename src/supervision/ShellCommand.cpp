#include "ShellCommand.h"

namespace Wardlamp {

QString ShellCommand::quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + escaped + u'\'';
}

QString ShellCommand::script(const QString& command, const std::optional<QString>& directory)
{
    QString result;
    if (directory && !directory->isEmpty())
        result = QStringLiteral("cd ") + quoted(*directory) + QStringLiteral(" && ");
    return result + QStringLiteral("exec ") + command;
}

QStringList ShellCommand::arguments(const QString& command, const std::optional<QString>& directory)
{
    return { QStringLiteral("-lic"), script(command, directory) };
}

bool ShellCommand::isJobControlNoise(QByteArrayView line)
{
    if (line == QByteArrayView("bash: no job control in this shell"))
        return true;
    const QByteArrayView head("bash: cannot set terminal process group (");
    const QByteArrayView tail("): Inappropriate ioctl for device");
    if (line.size() <= head.size() + tail.size() || !line.startsWith(head) || !line.endsWith(tail))
        return false;
    QByteArrayView number = line.sliced(head.size(), line.size() - head.size() - tail.size());
    if (number.startsWith('-'))
        number = number.sliced(1);
    if (number.isEmpty())
        return false;
    for (char c : number) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

} // namespace Wardlamp
