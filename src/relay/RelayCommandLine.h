#pragma once

#include "RelayOptions.h"

#include <span>
#include <string>
#include <string_view>

namespace Wardlamp {

// Turns the relay's arguments into RelayOptions. Pure: no output, no exit; main()
// prints the help or the error and picks the exit code.
class RelayCommandLine {
public:
    enum class Outcome { run, showHelp, error };

    struct Result {
        Outcome outcome = Outcome::run;
        RelayOptions options;
        std::string error; // one line, set when outcome is Error

        bool operator==(const Result&) const = default;
    };

    // `arguments` excludes the program name. Accepts "--flag value" and "--flag=value".
    static Result parse(std::span<const std::string_view> arguments);
    static std::string helpText();
};

} // namespace Wardlamp
