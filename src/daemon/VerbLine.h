#pragma once

#include "common/Expected.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace Wardlamp {

// One wardlampd verb as typed (`wardlampd ls --json`), turned into the request
// the supervisor answers. Parsing is pure: files named on the command line
// are read later, by the runner.
struct VerbLine {
    QString verb;
    QJsonObject args;
    bool json = false; // --json: print the reply as JSON
    bool help = false; // --help: print helpText(verb) and do nothing

    // Whether the arguments (program name first) start with a verb.
    static bool handles(const QStringList& arguments);
    // Parses the arguments (program name first); on a usage error, one line.
    static Expected<VerbLine, QString> parse(const QStringList& arguments);
    static QString helpText(const QString& verb);
    // The verbs, for wardlampd --help.
    static QStringList verbs();
};

} // namespace Wardlamp
