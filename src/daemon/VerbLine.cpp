#include "VerbLine.h"

#include <QCommandLineParser>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

struct VerbSpec {
    const char* name;
    const char* synopsis;
    const char* description;
};

// In the order wardlampd --help lists them.
constexpr VerbSpec verbSpecs[] = {
    { "ls", "ls [--json]",
        "List the servers with status, pid, uptime, restarts and the TCP ports they listen on. With no "
        "supervisor running, the saved servers, all stopped." },
};

const VerbSpec* findSpec(const QString& verb)
{
    for (const VerbSpec& spec : verbSpecs) {
        if (verb == QLatin1StringView(spec.name))
            return &spec;
    }
    return nullptr;
}

QCommandLineOption helpOption()
{
    return QCommandLineOption({ u"h"_s, u"help"_s }, u"Show this help."_s);
}

QCommandLineOption jsonOption()
{
    return QCommandLineOption(u"json"_s, u"Print one JSON document instead of a table."_s);
}

void setUp(QCommandLineParser& parser, const QString& verb)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(helpOption());
    if (verb == u"ls"_s)
        parser.addOption(jsonOption());
}

} // namespace

QStringList VerbLine::verbs()
{
    QStringList names;
    for (const VerbSpec& spec : verbSpecs)
        names.append(QString::fromLatin1(spec.name));
    return names;
}

bool VerbLine::handles(const QStringList& arguments)
{
    return arguments.size() >= 2 && findSpec(arguments.at(1));
}

Expected<VerbLine, QString> VerbLine::parse(const QStringList& arguments)
{
    const QString verb = arguments.value(1);
    if (!findSpec(verb))
        return QString(u"unknown verb \""_s + verb + u'"');
    QCommandLineParser parser;
    setUp(parser, verb);
    QStringList rest = arguments.mid(1);
    rest[0] = u"wardlampd "_s + verb;
    if (!parser.parse(rest))
        return QString(verb + u": "_s + parser.errorText());
    VerbLine line;
    line.verb = verb;
    if (parser.isSet(u"help"_s)) {
        line.help = true;
        return line;
    }
    const QStringList positional = parser.positionalArguments();
    if (verb == u"ls"_s) {
        if (!positional.isEmpty())
            return u"ls takes no arguments"_s;
        line.json = parser.isSet(u"json"_s);
    }
    return line;
}

QString VerbLine::helpText(const QString& verb)
{
    const VerbSpec* spec = findSpec(verb);
    if (!spec)
        return {};
    QCommandLineParser parser;
    setUp(parser, verb);
    parser.setApplicationDescription(QString::fromUtf8(spec->description));
    QString text = parser.helpText();
    // QCommandLineParser names the program; the verb's own synopsis says more.
    const qsizetype firstLineEnd = text.indexOf(u'\n');
    text = u"Usage: wardlampd "_s + QString::fromUtf8(spec->synopsis) + text.mid(firstLineEnd);
    text += u"\nWith a supervisor running (wardlampd, or the desktop app) the verb goes to it through its control "
            "socket; see wardlampd --help for the exit statuses.\n"_s;
    return text;
}

} // namespace Wardlamp
