#pragma once

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
};

} // namespace Wardlamp
