#include "AppOptions.h"

#include <QCommandLineParser>

namespace Wardlamp {

using namespace Qt::StringLiterals;

namespace {

void setUp(QCommandLineParser& parser)
{
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(
        u"Runs your development servers from the system tray. Starting wardlamp while it runs shows the running "
        "one's panel."_s);
    parser.addOptions({
        QCommandLineOption(u"show"_s,
            u"Open SURFACE (panel, logs or settings) in the running app, starting the app first if none runs."_s,
            u"SURFACE"_s),
        QCommandLineOption(u"quit"_s,
            u"End the running app the orderly way: every server gets SIGTERM, and SIGKILL after the grace period."_s),
        QCommandLineOption(u"autostart"_s, u"Started at login: stay in the tray, waiting for it if need be."_s),
        QCommandLineOption({ u"h"_s, u"help"_s }, u"Show this help."_s),
        QCommandLineOption({ u"v"_s, u"version"_s }, u"Show the version."_s),
    });
}

} // namespace

QString AppOptions::surfaceName(Surface surface)
{
    switch (surface) {
    case Surface::logs:
        return u"logs"_s;
    case Surface::settings:
        return u"settings"_s;
    case Surface::panel:
        break;
    }
    return u"panel"_s;
}

std::optional<AppOptions::Surface> AppOptions::surfaceFromName(const QString& name)
{
    for (const Surface surface : { Surface::panel, Surface::logs, Surface::settings }) {
        if (surfaceName(surface) == name)
            return surface;
    }
    return std::nullopt;
}

std::variant<AppOptions, QString> AppOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    setUp(parser);
    if (!parser.parse(arguments))
        return parser.errorText();
    if (!parser.positionalArguments().isEmpty())
        return u"unexpected argument \""_s + parser.positionalArguments().constFirst() + u'"';

    AppOptions options;
    if (parser.isSet(u"help"_s)) {
        options.action = Action::showHelp;
        return options;
    }
    if (parser.isSet(u"version"_s)) {
        options.action = Action::showVersion;
        return options;
    }
    options.autostarted = parser.isSet(u"autostart"_s);
    const bool show = parser.isSet(u"show"_s);
    const bool quit = parser.isSet(u"quit"_s);
    if (int(show) + int(quit) + int(options.autostarted) > 1)
        return u"--show, --quit and --autostart cannot be combined"_s;
    if (quit) {
        options.action = Action::quit;
        return options;
    }
    if (show) {
        const QStringList values = parser.values(u"show"_s);
        if (values.size() > 1)
            return u"--show given more than once"_s;
        const std::optional<Surface> surface = surfaceFromName(values.constFirst());
        if (!surface)
            return u"--show takes panel, logs or settings, not \""_s + values.constFirst() + u'"';
        options.surface = *surface;
        options.action = Action::show;
    }
    return options;
}

QString AppOptions::helpText()
{
    QCommandLineParser parser;
    setUp(parser);
    return parser.helpText()
        + u"\nOne Wardlamp supervises a configuration at a time: wardlamp refuses to start while wardlampd runs on "
          "the same settings, and the other way round.\n"
          "\nExit status:\n"
          "  0  done (the app ran and quit, or the running app showed or quit as asked)\n"
          "  1  no display to show anything on, or the running app did not answer\n"
          "  2  bad usage\n"
          "  4  wardlampd supervises this configuration (its pid is named)\n"_s;
}

} // namespace Wardlamp
