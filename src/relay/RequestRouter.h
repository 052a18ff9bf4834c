#pragma once

#include "common/PeerRole.h"

#include <optional>
#include <string>
#include <string_view>

namespace Wardlamp {

// What the relay does with one HTTP request, decided from its method, target,
// the two room headers and whether it asks for a WebSocket upgrade. Pure, so the
// whole table of accepted and refused requests is tested without a socket.
// When the relay serves the web controller, GET and HEAD of any other path name a
// file of it: the last path segment, or "index.html" for a path that ends in "/"
// (so the app works under whatever prefix a proxy mounts the relay at).
class RequestRouter {
public:
    struct Request {
        std::string_view method;
        std::string_view target; // origin form: path and optional query
        std::optional<std::string_view> roomHeader; // "X-WL-Room"
        std::optional<std::string_view> roleHeader; // "X-WL-Role"
        bool isWebSocketUpgrade = false;
        bool servesWeb = false; // the relay serves the web controller's files
    };

    enum class Action { health, connect, badRequest, notFound, methodNotAllowed, staticFile };

    struct Decision {
        Action action = Action::notFound;
        std::string room; // Connect only
        PeerRole role = PeerRole::controller; // Connect only
        std::string reason; // one line for the error body
        std::string file = {}; // staticFile only: the file's name

        bool operator==(const Decision&) const = default;
    };

    static Decision route(const Request& request);

    // 32 lower-case hexadecimal characters, the form room identifiers take.
    static bool isValidRoom(std::string_view room);
    // A file name the web content may hold: letters, digits, ".", "-" and "_", not
    // starting with "." (so never ".." nor a hidden file), at most 128 characters.
    static bool isValidFileName(std::string_view name);
    // The decoded value of the first `key` in a query string, if present.
    static std::optional<std::string> queryValue(std::string_view query, std::string_view key);
};

} // namespace Wardlamp
