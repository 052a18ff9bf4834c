#include "DaemonOptions.h"

#include <QCommandLineParser>

#include <cmath>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

constexpr double maxGraceSeconds = 3600;

QList<QCommandLineOption> optionList()
{
    return {
        QCommandLineOption({ u"s"_s, u"servers"_s },
            u"Run the servers of FILE (a JSON array, \"-\" for standard input) instead of the saved "
            "list. The saved list is never changed."_s,
            u"FILE"_s),
        QCommandLineOption(u"until-stopped"_s,
            u"Exit once no server is running any more, with one summary line per server on "
            "standard error."_s),
        QCommandLineOption({ u"q"_s, u"quiet"_s }, u"Print no log lines, only status changes."_s),
        QCommandLineOption(u"color"_s,
            u"Colour the output: auto (on a terminal, unless NO_COLOR is set), always "
            "or never."_s,
            u"WHEN"_s, u"auto"_s),
        QCommandLineOption(u"grace"_s, u"Seconds a stopping server gets after SIGTERM before SIGKILL (default 3)."_s,
            u"SECONDS"_s, u"3"_s),
        QCommandLineOption({ u"v"_s, u"verbose"_s },
            u"Also print debug and info messages (QT_LOGGING_RULES chooses in more detail)."_s),
        QCommandLineOption({ u"h"_s, u"help"_s }, u"Show this help."_s),
        QCommandLineOption(u"version"_s, u"Show the version."_s),
    };
}

void setUp(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        u"Runs the configured development servers without a desktop: starts those marked autostart and prints "
        "every log line of every server on standard output as \"HH:mm:ss NAME | TEXT\" (error lines: "
        "\"HH:mm:ss NAME ! TEXT\"). SIGINT, SIGTERM or SIGHUP stops every server (SIGTERM to its process tree, SIGKILL "
        "after the grace period; a second signal sends SIGKILL at once) and exits once all of them are gone."_s);
    parser.addOptions(optionList());
}

} // namespace

Expected<DaemonOptions, QString> DaemonOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    setUp(parser);
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return QString(u"unexpected argument \""_s + parser.positionalArguments().constFirst() + u'"');

    DaemonOptions options;
    if (parser.isSet(u"help"_s)) {
        options.action = Action::showHelp;
        return options;
    }
    if (parser.isSet(u"version"_s)) {
        options.action = Action::showVersion;
        return options;
    }
    if (parser.isSet(u"servers"_s)) {
        const QStringList files = parser.values(u"servers"_s);
        if (files.size() > 1)
            return u"--servers given more than once"_s;
        if (files.constFirst().isEmpty())
            return u"--servers needs a file name"_s;
        options.serversFile = files.constFirst();
    }
    options.untilStopped = parser.isSet(u"until-stopped"_s);
    options.quiet = parser.isSet(u"quiet"_s);
    options.verbose = parser.isSet(u"verbose"_s);

    const QString colour = parser.value(u"color"_s);
    if (colour == u"auto"_s)
        options.colour = Colour::automatic;
    else if (colour == u"always"_s)
        options.colour = Colour::always;
    else if (colour == u"never"_s)
        options.colour = Colour::never;
    else
        return QString(u"--color must be auto, always or never, not \""_s + colour + u'"');

    bool ok = false;
    const QString graceText = parser.value(u"grace"_s);
    const double seconds = graceText.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > maxGraceSeconds)
        return QString(u"--grace must be a number of seconds from 0 to 3600, not \""_s + graceText + u'"');
    options.grace = std::chrono::milliseconds(std::llround(seconds * 1000));
    return options;
}

QString DaemonOptions::helpText()
{
    QCommandLineParser parser;
    setUp(parser);
    return parser.helpText()
        + u"\nServers come from the saved list ($XDG_CONFIG_HOME/wardlamp/wardlamp.conf, shared with the desktop app), "
          "or from WL_SEED_SERVERS or --servers, which leave the saved list alone.\n"
          "\nExit status:\n"
          "  0  every server ended in an orderly way, or all were stopped on request\n"
          "  1  with --until-stopped: a server ended in error (could not start, crashed, exited non-zero);\n"
          "     for a verb: what it was asked to do failed\n"
          "  2  bad usage or bad input (unreadable or invalid servers file); nothing was started or changed\n"
          "  3  remote access is on (or a remote command was given) but wardlampd-remote.so, which is built\n"
          "     beside wardlampd, cannot be loaded; nothing was started\n"
          "  4  another process (wardlampd or the desktop app) supervises this configuration\n"
          "  5  the verb needs running servers and nothing supervises this configuration\n"
          "  6  a supervisor runs but its control socket does not answer\n"
          "  7  no server, or more than one, fits the name given\n"
          "  8  this configuration's lock and control socket cannot be set up (no private folder for them,\n"
          "     or the lock file cannot be locked)\n"_s;
}

} // namespace Wardlamp
