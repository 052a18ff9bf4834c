#include "VerbLine.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>

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
    { "logs", "logs SERVER [-f] [-n N] [--previous]",
        "Print the newest lines of a server's log as \"HH:mm:ss  text\" (\"HH:mm:ss! text\" for an error line). "
        "-f keeps printing new lines as the server writes them, until Ctrl-C. --previous prints the log of the run "
        "before the current one (kept when a start, such as an automatic restart after a crash, begins a new log)." },
    { "start", "start SERVER|--all", "Start a server (or every server) of the running supervisor." },
    { "stop", "stop SERVER|--all",
        "Stop a server (or every server): SIGTERM to its whole process tree, SIGKILL after the grace period." },
    { "restart", "restart SERVER|--all", "Stop a running server and start it again; start one that is not running." },
    { "clear", "clear SERVER|--all", "Empty a server's log and clear its error." },
    { "add", "add NAME [--dir DIR] [--autostart] [--restart-on-crash] [--alert] [--tunnel HOST] -- COMMAND...",
        "Add a server to the list. The words after -- are its command line, run through your login shell (one "
        "quoted word is taken as it is). A directory that does not exist yet is accepted with a warning. With a "
        "supervisor running, the server is in its list at once and saved by it; `wardlampd start NAME` starts it." },
    { "edit",
        "edit SERVER [--name NAME] [--command COMMAND] [--dir DIR|--no-dir] [--[no-]autostart] "
        "[--[no-]restart-on-crash] [--[no-]alert] [--tunnel HOST|--no-tunnel]",
        "Change a server. A running server goes on with what it was started with until it is restarted." },
    { "rm", "rm SERVER", "Remove a server from the list, stopping it first when it runs." },
    { "import", "import FILE [--replace]",
        "Add the servers of a JSON file (the format of `wardlampd export`, \"-\" for standard input). A server whose "
        "id is in the list already replaces it; with --replace the list becomes the file's. One bad entry, and "
        "nothing is imported." },
    { "export", "export", "Print the server list as JSON, the format that import and --servers read." },
    { "pair", "pair [--rotate]",
        "Show the pairing key as text and QR code; --rotate makes a new one (paired devices must pair again). "
        "With a supervisor running, a new key is used at once." },
    { "remote", "remote status|enable|disable|name NAME|relay URL|password",
        "Remote access settings; with a supervisor running they take effect at once. See wardlampd remote --help." },
};

const VerbSpec* findSpec(const QString& verb)
{
    for (const VerbSpec& spec : verbSpecs) {
        if (verb == QLatin1StringView(spec.name))
            return &spec;
    }
    return nullptr;
}

bool isServerAction(const QString& verb)
{
    return verb == u"start"_s || verb == u"stop"_s || verb == u"restart"_s || verb == u"clear"_s;
}

bool isRemote(const QString& verb)
{
    return verb == u"pair"_s || verb == u"remote"_s;
}

// The flags that edit pairs with a --no- form.
struct Toggle {
    const char* option;
    const char* key;
    const char* description;
};

constexpr Toggle toggles[] = {
    { "autostart", "autostart", "Start it whenever the supervisor starts." },
    { "restart-on-crash", "restartOnCrash", "Restart it once when it crashes (at most once in 5 s)." },
    { "alert", "errorAlertEnabled", "Mark it for error alerts." },
};

void setUp(QCommandLineParser& parser, const QString& verb)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption({ u"h"_s, u"help"_s }, u"Show this help."_s));
    if (verb == u"ls"_s)
        parser.addOption(QCommandLineOption(u"json"_s, u"Print one JSON document instead of a table."_s));
    if (verb == u"logs"_s) {
        parser.addOption(QCommandLineOption({ u"f"_s, u"follow"_s }, u"Keep printing new lines."_s));
        parser.addOption(QCommandLineOption(
            { u"n"_s, u"lines"_s }, u"How many of the newest lines (default 50, at most 2000)."_s, u"N"_s));
        parser.addOption(QCommandLineOption(u"previous"_s, u"The log of the run before the current one."_s));
    }
    if (isServerAction(verb))
        parser.addOption(QCommandLineOption(u"all"_s, u"Every server of the list."_s));
    if (verb == u"add"_s || verb == u"edit"_s) {
        parser.addOption(QCommandLineOption(
            u"dir"_s, u"The folder the command runs in (made absolute here; ~ is the home folder)."_s, u"DIR"_s));
        parser.addOption(QCommandLineOption(
            u"tunnel"_s, u"The public host name it is reachable under through a tunnel."_s, u"HOST"_s));
        for (const Toggle& toggle : toggles) {
            parser.addOption(
                QCommandLineOption(QString::fromLatin1(toggle.option), QString::fromLatin1(toggle.description)));
            if (verb == u"edit"_s)
                parser.addOption(QCommandLineOption(u"no-"_s + QString::fromLatin1(toggle.option),
                    u"The opposite of --"_s + QString::fromLatin1(toggle.option) + u'.'));
        }
    }
    if (verb == u"edit"_s) {
        parser.addOption(QCommandLineOption(u"name"_s, u"A new name."_s, u"NAME"_s));
        parser.addOption(QCommandLineOption(u"command"_s, u"A new command line."_s, u"COMMAND"_s));
        parser.addOption(QCommandLineOption(u"no-dir"_s, u"Run it in the supervisor's folder."_s));
        parser.addOption(QCommandLineOption(u"no-tunnel"_s, u"Forget the tunnel host."_s));
    }
    if (verb == u"import"_s)
        parser.addOption(QCommandLineOption(u"replace"_s, u"Make the list the file's."_s));
}

// A word as a POSIX shell reads it back: bare when it is plain, else in single quotes.
QString shellWord(const QString& word)
{
    static const QRegularExpression plain(u"^[A-Za-z0-9_@%+=:,./-]+$"_s);
    if (plain.match(word).hasMatch())
        return word;
    return u'\'' + QString(word).replace(u"'"_s, u"'\\''"_s) + u'\'';
}

QString absoluteDirectory(const QString& directory)
{
    // "~" is left to the supervisor, whose home it means.
    if (directory == u"~"_s || directory.startsWith(u"~/"_s))
        return directory;
    return QDir::cleanPath(QDir::current().absoluteFilePath(directory));
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

QString VerbLine::commandLine(const QStringList& words)
{
    if (words.size() == 1)
        return words.first();
    QStringList quoted;
    for (const QString& word : words)
        quoted.append(shellWord(word));
    return quoted.join(u' ');
}

Expected<VerbLine, QString> VerbLine::parse(const QStringList& arguments)
{
    const QString verb = arguments.value(1);
    if (!findSpec(verb))
        return QString(u"unknown verb \""_s + verb + u'"');
    VerbLine line;
    line.verb = verb;
    // The remote verbs are parsed where they run (the supervisor, or the
    // remote plugin here); only what must be read here is read by the runner.
    if (isRemote(verb)) {
        line.args.insert(u"argv"_s, QJsonArray::fromStringList(arguments.mid(1)));
        return line;
    }
    QCommandLineParser parser;
    setUp(parser, verb);
    QStringList rest = arguments.mid(1);
    rest[0] = u"wardlampd "_s + verb;
    if (!parser.parse(rest)) {
        QString problem = verb + u": "_s + parser.errorText();
        if (verb == u"add"_s)
            problem += u" (put the command after --)"_s;
        return problem;
    }
    if (parser.isSet(u"help"_s)) {
        line.help = true;
        return line;
    }
    const QStringList positional = parser.positionalArguments();
    auto needsServer = [&](qsizetype count) -> std::optional<QString> {
        if (positional.isEmpty())
            return verb + u" needs the name or id of a server"_s;
        if (positional.size() > count)
            return verb + u": unexpected argument \""_s + positional.at(count) + u'"';
        line.args.insert(u"server"_s, positional.first());
        return std::nullopt;
    };

    if (verb == u"ls"_s || verb == u"export"_s) {
        if (!positional.isEmpty())
            return QString(verb + u" takes no arguments"_s);
        line.json = verb == u"ls"_s && parser.isSet(u"json"_s);
    } else if (verb == u"logs"_s) {
        if (auto problem = needsServer(1))
            return *problem;
        if (parser.isSet(u"lines"_s)) {
            bool ok = false;
            const int count = parser.value(u"lines"_s).toInt(&ok);
            if (!ok || count < 0 || count > 2000)
                return QString(u"-n expects a number of lines from 0 to 2000"_s);
            line.args.insert(u"lines"_s, count);
        }
        line.follow = parser.isSet(u"follow"_s);
        if (line.follow)
            line.args.insert(u"follow"_s, true);
        if (parser.isSet(u"previous"_s))
            line.args.insert(u"previous"_s, true);
        if (line.follow && parser.isSet(u"previous"_s))
            return QString(u"logs: --previous is a run that has ended; it cannot be followed"_s);
    } else if (isServerAction(verb)) {
        if (parser.isSet(u"all"_s)) {
            if (!positional.isEmpty())
                return QString(verb + u": either a server or --all"_s);
            line.args.insert(u"all"_s, true);
        } else if (auto problem = needsServer(1)) {
            return QString(*problem + u" (or --all)"_s);
        }
    } else if (verb == u"rm"_s) {
        if (auto problem = needsServer(1))
            return *problem;
    } else if (verb == u"add"_s) {
        if (positional.isEmpty())
            return QString(u"add needs a name and, after --, a command"_s);
        if (positional.size() < 2)
            return QString(u"add needs a command after the name (wardlampd add NAME -- COMMAND...)"_s);
        line.args.insert(u"name"_s, positional.first());
        line.args.insert(u"command"_s, commandLine(positional.mid(1)));
    } else if (verb == u"edit"_s) {
        if (auto problem = needsServer(1))
            return *problem;
        if (parser.isSet(u"name"_s))
            line.args.insert(u"name"_s, parser.value(u"name"_s));
        if (parser.isSet(u"command"_s))
            line.args.insert(u"command"_s, parser.value(u"command"_s));
        if (parser.isSet(u"dir"_s) && parser.isSet(u"no-dir"_s))
            return QString(u"edit: either --dir or --no-dir"_s);
        if (parser.isSet(u"no-dir"_s))
            line.args.insert(u"directory"_s, QJsonValue::Null);
        if (parser.isSet(u"tunnel"_s) && parser.isSet(u"no-tunnel"_s))
            return QString(u"edit: either --tunnel or --no-tunnel"_s);
        if (parser.isSet(u"no-tunnel"_s))
            line.args.insert(u"tunnelHostname"_s, QJsonValue::Null);
    } else if (verb == u"import"_s) {
        if (positional.size() != 1)
            return QString(u"import needs one file (\"-\" for standard input)"_s);
        line.file = positional.first();
        if (parser.isSet(u"replace"_s))
            line.args.insert(u"replace"_s, true);
    }

    if (verb == u"add"_s || verb == u"edit"_s) {
        if (parser.isSet(u"dir"_s)) {
            if (parser.value(u"dir"_s).isEmpty())
                return QString(verb + u": --dir needs a folder"_s);
            line.args.insert(u"directory"_s, absoluteDirectory(parser.value(u"dir"_s)));
        }
        if (parser.isSet(u"tunnel"_s))
            line.args.insert(u"tunnelHostname"_s, parser.value(u"tunnel"_s));
        for (const Toggle& toggle : toggles) {
            const QString option = QString::fromLatin1(toggle.option);
            const bool on = parser.isSet(option);
            const bool off = verb == u"edit"_s && parser.isSet(u"no-"_s + option);
            if (on && off)
                return QString(verb + u": either --"_s + option + u" or --no-"_s + option);
            if (on || off || verb == u"add"_s)
                line.args.insert(QString::fromLatin1(toggle.key), on);
        }
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
    text += u"\nSERVER is an id, a name, or a name that is unique ignoring case. With a supervisor running "
            "(wardlampd, or the desktop app) the verb goes to it through its control socket and takes effect there "
            "at once. Exit statuses: see wardlampd --help.\n"_s;
    return text;
}

QString VerbLine::overview()
{
    QString text = u"\nVerbs (wardlampd VERB --help says more):\n"_s;
    for (const VerbSpec& spec : verbSpecs)
        text += u"  wardlampd "_s + QString::fromUtf8(spec.synopsis) + u'\n';
    return text;
}

} // namespace Wardlamp
