#pragma once

#include "common/Expected.h"

#include <QJsonArray>
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
    bool follow = false; // logs -f: the reply streams until Ctrl-C
    QString file; // import: the file to read ("-": standard input)

    // Whether the arguments (program name first) start with a verb.
    static bool handles(const QStringList& arguments);
    // Parses the arguments (program name first); on a usage error, one line.
    static Expected<VerbLine, QString> parse(const QStringList& arguments);
    static QString helpText(const QString& verb);
    // The verbs, and their one-line synopses for wardlampd --help.
    static QStringList verbs();
    static QString overview();
    // Command words as one command line: a single word as it is (a whole line
    // typed in quotes), several joined with shell quoting where a word needs it.
    static QString commandLine(const QStringList& words);
};

} // namespace Wardlamp
