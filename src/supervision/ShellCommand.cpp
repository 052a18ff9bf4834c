#include "ShellCommand.h"

#include <QFile>

#include <algorithm>
#include <iterator>

#include <pwd.h>
#include <unistd.h>

namespace Wardlamp {

QString ShellCommand::quoted(const QString& text)
{
    QString escaped = text;
    escaped.replace(u'\'', QStringLiteral("'\\''"));
    return u'\'' + escaped + u'\'';
}

QString ShellCommand::expandedDirectory(const QString& directory, const QString& home)
{
    if (home.isEmpty() || !directory.startsWith(u'~'))
        return directory;
    if (directory.size() == 1)
        return home;
    if (directory.at(1) != u'/')
        return directory;
    // "~/" on a home of "/" must not become "//".
    return (home.endsWith(u'/') ? home.chopped(1) : home) + directory.sliced(1);
}

QString ShellCommand::homeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir)
        return QFile::decodeName(entry->pw_dir);
    return QString();
}

QString ShellCommand::script(const QString& command, const std::optional<QString>& directory, const QString& shell)
{
    QString result;
    if (directory && !directory->isEmpty())
        result = QStringLiteral("cd ") + quoted(expandedDirectory(*directory, homeFolder())) + QStringLiteral(" && ");
    if (takesExec(command))
        return result + QStringLiteral("exec ") + command;
    // A list of commands is handed whole to a non-interactive instance of the
    // same shell, which takes the login shell's place. The login shell is
    // interactive: it would ignore the SIGTERM of a stop and start the next
    // command of the list once the first is killed.
    return result + QStringLiteral("exec ") + quoted(shell) + QStringLiteral(" -c ") + quoted(command);
}

QStringList ShellCommand::arguments(
    const QString& command, const std::optional<QString>& directory, const QString& shell, bool markStart)
{
    const QString body = script(command, directory, shell);
    return { QStringLiteral("-lic"), markStart ? startMarkerScript(shell) + body : body };
}

bool ShellCommand::marksStart(const QString& shell)
{
    const QString name = shell.sliced(shell.lastIndexOf(u'/') + 1);
    return !name.endsWith(QLatin1String("csh"));
}

QString ShellCommand::startMarkerScript(const QString& shell)
{
    if (!marksStart(shell))
        return QString();
    // printf's octal escapes spell the marker's control characters, so the
    // script holds printable text only.
    QString spelled;
    for (const char c : startMarker) {
        if (c == '\x1e')
            spelled += QStringLiteral("\\036");
        else
            spelled += QLatin1Char(c);
    }
    const QString line = QStringLiteral("printf '") + spelled + QStringLiteral("\\n'");
    return line + QStringLiteral("; ") + line + QStringLiteral(" >&2; ");
}

namespace {

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

// Words that make the command line a compound command or a function.
bool isReservedWord(QStringView word)
{
    static const QStringView words[] = { u"if", u"then", u"elif", u"else", u"fi", u"case", u"esac", u"for", u"select",
        u"while", u"until", u"do", u"done", u"function", u"time", u"coproc", u"!", u"[[", u"{", u"}" };
    return std::find(std::begin(words), std::end(words), word) != std::end(words);
}

// NAME=... or NAME+=... (NAME[index]= too): a variable assignment, which
// exec would take for the program to run.
bool isAssignment(QStringView word)
{
    const qsizetype equals = word.indexOf(u'=');
    if (equals <= 0)
        return false;
    QStringView name = word.first(equals);
    if (name.endsWith(u'+'))
        name.chop(1);
    if (const qsizetype bracket = name.indexOf(u'['); bracket > 0 && name.endsWith(u']'))
        name = name.first(bracket);
    if (name.isEmpty() || name.front().isDigit())
        return false;
    for (QChar c : name) {
        if (!(c.isLetterOrNumber() && c.unicode() < 128) && c != u'_')
            return false;
    }
    return true;
}

} // namespace

bool ShellCommand::takesExec(const QString& command)
{
    qsizetype i = 0;
    const qsizetype size = command.size();
    while (i < size && isBlank(command.at(i)))
        ++i;
    qsizetype wordEnd = i;
    while (wordEnd < size && !isBlank(command.at(wordEnd)))
        ++wordEnd;
    const QStringView first = QStringView(command).sliced(i, wordEnd - i);
    if (isReservedWord(first) || isAssignment(first) || first.startsWith(u'('))
        return false;

    // Any control operator outside quotes (";", "&", "&&", "||", "|", a
    // newline, a subshell) makes it a list of commands. Redirections with "&"
    // ("2>&1", "&>") and substitutions ("$(...)", "`...`", "<(...)") do not.
    // Anything this scan cannot follow counts as a list: without exec the
    // shell still runs the command, it only stays as its parent.
    int substitutions = 0; // open "$(" and "<(" / ">(" (their contents are not looked at)
    bool atWordStart = true;
    for (; i < size; ++i) {
        const QChar c = command.at(i);
        const QChar previous = i > 0 ? command.at(i - 1) : QChar();
        const QChar next = i + 1 < size ? command.at(i + 1) : QChar();
        const bool wordStart = atWordStart;
        atWordStart = isBlank(c);
        if (c == u'\\') {
            ++i;
            continue;
        }
        if (c == u'\'' || c == u'"' || c == u'`') {
            // A quoted run: single quotes end at the next one; in double quotes
            // and backquotes a backslash escapes the next character.
            for (++i; i < size && command.at(i) != c; ++i) {
                if (c != u'\'' && command.at(i) == u'\\')
                    ++i;
            }
            if (i >= size)
                return false; // unbalanced: the shell reports it either way
            continue;
        }
        if (c == u'(') {
            // A subshell or a function outside any substitution.
            if (substitutions == 0 && previous != u'$' && previous != u'<' && previous != u'>')
                return false;
            ++substitutions;
            continue;
        }
        if (c == u')') {
            if (substitutions == 0)
                return false;
            --substitutions;
            continue;
        }
        if (substitutions > 0)
            continue;
        if (c == u'#' && wordStart)
            return true; // a comment to the end
        if (c == u'\n' || c == u'\r' || c == u';' || c == u'|')
            return false;
        if (c == u'&' && previous != u'>' && previous != u'<' && next != u'>')
            return false;
    }
    return substitutions == 0;
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
