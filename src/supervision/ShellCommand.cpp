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

namespace {

bool isDigits(QByteArrayView text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    return true;
}

// "NAME: [N: ]can't access tty; job control turned off" (dash, ash)
bool isNoTtyNotice(QByteArrayView line)
{
    const QByteArrayView tail(": can't access tty; job control turned off");
    if (!line.endsWith(tail))
        return false;
    QByteArrayView head = line.first(line.size() - tail.size());
    if (const qsizetype colon = head.indexOf(": "); colon >= 0) {
        if (!isDigits(head.sliced(colon + 2)))
            return false;
        head = head.first(colon);
    }
    return !head.isEmpty() && !head.contains(':') && !head.contains(' ');
}

} // namespace

bool ShellCommand::isJobControlNoise(QByteArrayView line)
{
    if (line == QByteArrayView("bash: no job control in this shell") || isNoTtyNotice(line))
        return true;
    const QByteArrayView head("bash: cannot set terminal process group (");
    const QByteArrayView tail("): Inappropriate ioctl for device");
    if (line.size() <= head.size() + tail.size() || !line.startsWith(head) || !line.endsWith(tail))
        return false;
    QByteArrayView number = line.sliced(head.size(), line.size() - head.size() - tail.size());
    if (number.startsWith('-'))
        number = number.sliced(1);
    return isDigits(number);
}

} // namespace Wardlamp
