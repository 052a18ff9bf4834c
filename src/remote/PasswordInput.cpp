#include "PasswordInput.h"

#include <QFile>

#include <cstdio>
#include <iostream>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace Wardlamp {

std::optional<QString> PasswordInput::prompt(const QString& question)
{
    std::fputs(question.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
    termios saved {};
    const bool haveTerminal = ::tcgetattr(STDIN_FILENO, &saved) == 0;
    if (haveTerminal) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        quiet.c_lflag |= ECHONL;
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    std::string line;
    const bool got = static_cast<bool>(std::getline(std::cin, line));
    if (haveTerminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!got)
        return std::nullopt;
    return firstLine(QByteArray::fromStdString(line));
}

std::optional<QString> PasswordInput::fromFile(const QString& path, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return std::nullopt;
    }
    // A password is short; do not read a huge file whole.
    return firstLine(file.read(64 * 1024));
}

QString PasswordInput::firstLine(const QByteArray& text)
{
    QByteArray line = text;
    const qsizetype end = line.indexOf('\n');
    if (end >= 0) {
        line.truncate(end);
        if (line.endsWith('\r'))
            line.chop(1);
    }
    return QString::fromUtf8(line);
}

} // namespace Wardlamp
