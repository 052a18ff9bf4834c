#include "AutostartEntry.h"

#include <QFileInfo>
#include <QStringList>

#include <algorithm>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

// A string value of a desktop entry with its escapes (\s \n \t \r \\) undone.
QString unescapeValue(QStringView value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out.append(c);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            out.append(u' ');
            break;
        case 'n':
            out.append(u'\n');
            break;
        case 't':
            out.append(u'\t');
            break;
        case 'r':
            out.append(u'\r');
            break;
        default:
            out.append(next); // "\\" and anything unknown
        }
    }
    return out;
}

bool isTrue(const QString& value)
{
    return value.trimmed() == u"true"_s;
}

bool isFalse(const QString& value)
{
    return value.trimmed() == u"false"_s;
}

} // namespace

AutostartEntry::State AutostartEntry::classify(const QByteArray& content)
{
    const QStringList lines = QString::fromUtf8(content).split(u'\n');
    bool inMainGroup = false;
    std::optional<QString> exec;
    bool hidden = false;
    bool switchedOff = false;
    for (QString line : lines) {
        if (line.endsWith(u'\r'))
            line.chop(1);
        const QString trimmed = line.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(u'#'))
            continue;
        if (trimmed.startsWith(u'[')) {
            inMainGroup = trimmed == u"[Desktop Entry]"_s;
            continue;
        }
        if (!inMainGroup)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == u"Exec"_s)
            exec = value;
        else if (key == u"Hidden"_s)
            hidden = isTrue(value);
        else if (key == u"X-GNOME-Autostart-enabled"_s)
            switchedOff = isFalse(value);
    }
    const std::optional<QString> program = exec ? execProgram(*exec) : std::nullopt;
    if (!program || QFileInfo(*program).fileName() != programName)
        return State::foreign;
    return hidden || switchedOff ? State::disabled : State::enabled;
}

QString AutostartEntry::execValue(const QString& programPath, const QStringList& arguments)
{
    QStringList words;
    for (const QString& word : QStringList { programPath } + arguments) {
        QString quoted = word;
        // Inside double quotes these four take a backslash; '%' is doubled anywhere.
        static const QString reserved = u" \t\n\"'\\><~|&;$*?#()`"_s;
        const bool needsQuotes
            = word.isEmpty() || std::any_of(word.cbegin(), word.cend(), [](QChar c) { return reserved.contains(c); });
        if (needsQuotes) {
            quoted.clear();
            for (const QChar c : word) {
                if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                    quoted.append(u'\\');
                quoted.append(c);
            }
            quoted = u'"' + quoted + u'"';
        }
        quoted.replace(u'%', u"%%"_s);
        words.append(quoted);
    }
    // Then the whole value is a string: its backslashes are escaped once more.
    QString value = words.join(u' ');
    value.replace(u'\\', u"\\\\"_s);
    value.replace(u'\n', u"\\n"_s);
    return value;
}

std::optional<QString> AutostartEntry::execProgram(const QString& value)
{
    const QString text = unescapeValue(value).trimmed();
    if (text.isEmpty())
        return std::nullopt;
    QString word;
    if (text.startsWith(u'"')) {
        for (qsizetype i = 1; i < text.size(); ++i) {
            const QChar c = text[i];
            if (c == u'\\' && i + 1 < text.size()) {
                word.append(text[++i]);
                continue;
            }
            if (c == u'"')
                return word.replace(u"%%"_s, u"%"_s);
            word.append(c);
        }
        return std::nullopt; // no closing quote
    }
    const qsizetype end = text.indexOf(u' ');
    word = end < 0 ? text : text.left(end);
    return word.replace(u"%%"_s, u"%"_s);
}

QByteArray AutostartEntry::content(const QString& programPath)
{
    const QString exec = execValue(programPath, { QString(autostartArgument) });
    const QString text = u"[Desktop Entry]\n"
                         "Type=Application\n"
                         "Name=Wardlamp\n"
                         "GenericName=Development server supervisor\n"
                         "Comment=Runs your development servers from the system tray\n"
                         "Exec="_s
        + exec
        + u"\n"
          "Icon=wardlamp\n"
          "Terminal=false\n"
          "Categories=Development;\n"
          "X-GNOME-Autostart-enabled=true\n"_s;
    return text.toUtf8();
}

} // namespace Wardlamp
