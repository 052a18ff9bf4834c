#include "SecretInput.h"

#include <QFile>
#include <QJsonArray>

#include <cstdio>
#include <termios.h>
#include <unistd.h>

namespace Wardlamp {

using namespace Qt::StringLiterals;

QString SecretInput::withoutLineEnd(QString text)
{
    if (text.endsWith(u'\n'))
        text.chop(1);
    if (text.endsWith(u'\r'))
        text.chop(1);
    return text;
}

std::optional<QString> SecretInput::readLine(const QString& prompt)
{
    const bool terminal = ::isatty(STDIN_FILENO);
    termios saved {};
    if (terminal) {
        const QByteArray bytes = prompt.toUtf8();
        std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
        std::fflush(stderr);
        if (::tcgetattr(STDIN_FILENO, &saved) == 0) {
            termios quiet = saved;
            quiet.c_lflag &= ~tcflag_t(ECHO);
            ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
        }
    }
    QByteArray line;
    bool any = false;
    for (int c = std::getchar(); c != EOF; c = std::getchar()) {
        any = true;
        if (c == '\n')
            break;
        line.append(char(c));
    }
    if (terminal) {
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
        std::fputc('\n', stderr);
    }
    if (!any)
        return std::nullopt;
    return withoutLineEnd(QString::fromUtf8(line));
}

Expected<QJsonObject, QString> SecretInput::prepare(const QStringList& words, const LineReader& readLine)
{
    QJsonObject args { { u"argv"_s, QJsonArray::fromStringList(words) } };
    const bool asksForHelp = words.contains(u"--help"_s) || words.contains(u"-h"_s);
    if (words.size() < 2 || words.at(0) != u"remote"_s || words.at(1) != u"password"_s || asksForHelp)
        return args;

    const QStringList rest = words.mid(2);
    QString password;
    if (rest == QStringList { u"--clear"_s }) {
        password = QString();
    } else if (rest.size() == 2 && rest.at(0) == u"--file"_s) {
        QFile file(rest.at(1));
        if (!file.open(QIODevice::ReadOnly))
            return QString(u"cannot read "_s + rest.at(1) + u": "_s + file.errorString());
        password = withoutLineEnd(QString::fromUtf8(file.readLine(64 * 1024)));
    } else if (rest.isEmpty()) {
        const std::optional<QString> typed = readLine(u"Password (empty for none): "_s);
        if (!typed)
            return QString(u"no password given; nothing changed"_s);
        password = *typed;
    } else {
        return QString(u"remote password takes --file FILE, --clear or nothing (then it asks); a password is never "
                       "taken from the command line, where other users could read it"_s);
    }
    args.insert(u"argv"_s, QJsonArray { u"remote"_s, u"password"_s });
    args.insert(u"password"_s, password);
    return args;
}

} // namespace Wardlamp
