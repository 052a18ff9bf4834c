#pragma once

#include <functional>
#include <string_view>

namespace Wardlamp {

// One line per connection event on standard error, with a UTC timestamp. Never
// given a payload; room identifiers are shortened to their first 8 characters.
class RelayLog {
public:
    static void line(std::string_view text);
    static std::string_view shortRoom(std::string_view room) { return room.substr(0, 8); }
    // Tests silence the log of in-process relays.
    static void setEnabled(bool enabled);
    // Tests read the lines: while a sink is set, each line (without timestamp)
    // goes to it instead, from whatever thread logs it. Empty: standard error again.
    static void setSink(std::function<void(std::string_view)> sink);
};

} // namespace Wardlamp
