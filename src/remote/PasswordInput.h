#pragma once

#include <QString>

#include <optional>

namespace Wardlamp {

// Where wardlamp-remote reads a password from, other than the environment.
class PasswordInput {
public:
    PasswordInput() = delete;

    // Asks on standard error and reads one line from standard input with echo off
    // (standard input must be a terminal). Nothing when input ends first.
    static std::optional<QString> prompt(const QString& question);
    // The first line of the file, without its line end; nothing when it cannot be
    // read (with the reason in `error`).
    static std::optional<QString> fromFile(const QString& path, QString* error);
    // The first line of `text`, without "\n" or "\r\n"; the rest is used as typed.
    static QString firstLine(const QByteArray& text);
};

} // namespace Wardlamp
