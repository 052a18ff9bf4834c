#include "RequestRouter.h"

#include <algorithm>

namespace Wardlamp {

namespace {

constexpr std::size_t roomLength = 32;

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// application/x-www-form-urlencoded decoding; a broken escape is kept literally,
// which then fails validation like any other wrong value.
std::string percentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.push_back(' ');
        } else if (c == '%' && i + 2 < text.size() && hexValue(text[i + 1]) >= 0 && hexValue(text[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hexValue(text[i + 1]) * 16 + hexValue(text[i + 2])));
            i += 2;
        } else {
            out.push_back(c);
        }
    }
    return out;
}

// Last segment of the path, so "/connect", "/relay/connect" and "/a/b/connect" all match.
std::string_view lastSegment(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

RequestRouter::Decision badRequest(std::string reason)
{
    return { RequestRouter::Action::badRequest, {}, PeerRole::controller, std::move(reason) };
}

} // namespace

bool RequestRouter::isValidFileName(std::string_view name)
{
    constexpr std::size_t maxFileName = 128;
    if (name.empty() || name.size() > maxFileName || name.front() == '.')
        return false;
    return std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '-'
            || c == '_';
    });
}

bool RequestRouter::isValidRoom(std::string_view room)
{
    return room.size() == roomLength && std::all_of(room.begin(), room.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
    });
}

std::optional<std::string> RequestRouter::queryValue(std::string_view query, std::string_view key)
{
    while (!query.empty()) {
        const auto amp = query.find('&');
        const std::string_view pair = query.substr(0, amp);
        query = amp == std::string_view::npos ? std::string_view() : query.substr(amp + 1);
        const auto equals = pair.find('=');
        const std::string_view name = pair.substr(0, equals);
        if (percentDecode(name) == key)
            return percentDecode(equals == std::string_view::npos ? std::string_view() : pair.substr(equals + 1));
    }
    return std::nullopt;
}

RequestRouter::Decision RequestRouter::route(const Request& request)
{
    if (request.target.empty() || request.target.front() != '/')
        return { Action::notFound, {}, PeerRole::controller, "not found" };

    const auto question = request.target.find('?');
    const std::string_view path = request.target.substr(0, question);
    const std::string_view query
        = question == std::string_view::npos ? std::string_view() : request.target.substr(question + 1);
    const std::string_view segment = lastSegment(path);

    if (segment == "healthz") {
        if (request.method != "GET" && request.method != "HEAD")
            return { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" };
        return { Action::health, {}, PeerRole::controller, {} };
    }
    if (segment != "connect") {
        if (!request.servesWeb)
            return { Action::notFound, {}, PeerRole::controller, "not found" };
        if (request.method != "GET" && request.method != "HEAD")
            return { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" };
        const std::string_view file = segment.empty() ? std::string_view("index.html") : segment;
        if (!isValidFileName(file))
            return { Action::notFound, {}, PeerRole::controller, "not found" };
        return { Action::staticFile, {}, PeerRole::controller, {}, std::string(file) };
    }
    if (request.method != "GET")
        return { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" };
    if (!request.isWebSocketUpgrade)
        return badRequest("expected a WebSocket upgrade request");

    // Headers first; browsers cannot set them, so the query is the fallback.
    std::optional<std::string> room
        = request.roomHeader ? std::optional<std::string>(std::string(*request.roomHeader)) : queryValue(query, "room");
    std::optional<std::string> role
        = request.roleHeader ? std::optional<std::string>(std::string(*request.roleHeader)) : queryValue(query, "role");

    if (!room || room->empty())
        return badRequest("missing room: send the X-WL-Room header or the room query parameter");
    if (!isValidRoom(*room))
        return badRequest("invalid room: expected 32 lower-case hexadecimal characters");
    if (!role || role->empty())
        return badRequest("missing role: send the X-WL-Role header or the role query parameter");
    const auto peerRole = peerRoleFromString(*role);
    if (!peerRole)
        return badRequest("invalid role: expected \"agent\" or \"controller\"");
    return { Action::connect, std::move(*room), *peerRole, {} };
}

} // namespace Wardlamp
