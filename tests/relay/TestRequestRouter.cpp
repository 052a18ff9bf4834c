#include "relay/RequestRouter.h"

#include <gtest/gtest.h>

using namespace Wardlamp;
using Action = RequestRouter::Action;

namespace {

constexpr std::string_view room = "0123456789abcdef0123456789abcdef";

struct Row {
    const char* name;
    RequestRouter::Request request;
    RequestRouter::Decision expected;
};

RequestRouter::Request upgrade(
    std::string_view target, std::optional<std::string_view> roomHeader, std::optional<std::string_view> roleHeader)
{
    return { "GET", target, roomHeader, roleHeader, true };
}

RequestRouter::Decision connect(PeerRole role)
{
    return { Action::connect, std::string(room), role, {} };
}

RequestRouter::Decision bad(const char* reason)
{
    return { Action::badRequest, {}, PeerRole::controller, reason };
}

const char* const missingRoom = "missing room: send the X-WL-Room header or the room query parameter";
const char* const invalidRoom = "invalid room: expected 32 lower-case hexadecimal characters";
const char* const missingRole = "missing role: send the X-WL-Role header or the role query parameter";
const char* const invalidRole = "invalid role: expected \"agent\" or \"controller\"";

class Routing : public testing::TestWithParam<Row> { };

TEST_P(Routing, decides)
{
    EXPECT_EQ(RequestRouter::route(GetParam().request), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Routing,
    testing::Values(Row { "headersAgent", upgrade("/connect", room, "agent"), connect(PeerRole::agent) },
        Row { "headersController", upgrade("/connect", room, "controller"), connect(PeerRole::controller) },
        Row { "underProxyPrefix", upgrade("/relay/v1/connect", room, "agent"), connect(PeerRole::agent) },
        Row { "queryForm", upgrade("/connect?room=0123456789abcdef0123456789abcdef&role=controller", {}, {}),
            connect(PeerRole::controller) },
        Row { "queryPercentEncoded",
            upgrade("/x/connect?role=%63ontroller&room=0123456789abcdef0123456789abcdef", {}, {}),
            connect(PeerRole::controller) },
        Row { "headerWinsOverQuery", upgrade("/connect?role=controller", room, "agent"), connect(PeerRole::agent) },
        Row { "noRoom", upgrade("/connect", {}, "agent"), bad(missingRoom) },
        Row { "emptyRoom", upgrade("/connect?room=&role=agent", {}, {}), bad(missingRoom) },
        Row { "upperCaseRoom", upgrade("/connect", "0123456789ABCDEF0123456789ABCDEF", "agent"), bad(invalidRoom) },
        Row { "shortRoom", upgrade("/connect", "0123456789abcdef", "agent"), bad(invalidRoom) },
        Row { "longRoom", upgrade("/connect", "0123456789abcdef0123456789abcdef0", "agent"), bad(invalidRoom) },
        Row { "roomWithPathChars", upgrade("/connect", "0123456789abcdef0123456789abcd/.", "agent"), bad(invalidRoom) },
        Row { "noRole", upgrade("/connect", room, {}), bad(missingRole) },
        Row { "capitalisedRole", upgrade("/connect", room, "Agent"), bad(invalidRole) },
        Row { "unknownRole", upgrade("/connect", room, "observer"), bad(invalidRole) },
        Row {
            "notAnUpgrade", { "GET", "/connect", room, "agent", false }, bad("expected a WebSocket upgrade request") },
        Row { "postToConnect", { "POST", "/connect", room, "agent", true },
            { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" } },
        Row { "connectNotLastSegment", upgrade("/connect/extra", room, "agent"),
            { Action::notFound, {}, PeerRole::controller, "not found" } },
        Row { "connectPrefixOnly", upgrade("/connectx", room, "agent"),
            { Action::notFound, {}, PeerRole::controller, "not found" } },
        Row { "absoluteFormTarget", upgrade("http://example.com/connect", room, "agent"),
            { Action::notFound, {}, PeerRole::controller, "not found" } },
        Row { "root", { "GET", "/", {}, {}, false }, { Action::notFound, {}, PeerRole::controller, "not found" } },
        Row { "health", { "GET", "/healthz", {}, {}, false }, { Action::health, {}, PeerRole::controller, {} } },
        Row { "healthHead", { "HEAD", "/relay/healthz", {}, {}, false },
            { Action::health, {}, PeerRole::controller, {} } },
        Row { "healthDelete", { "DELETE", "/healthz", {}, {}, false },
            { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" } }),
    [](const auto& row) { return std::string(row.param.name); });

RequestRouter::Request web(std::string_view method, std::string_view target)
{
    RequestRouter::Request request { method, target, {}, {}, false };
    request.servesWeb = true;
    return request;
}

RequestRouter::Decision file(const char* name)
{
    return { Action::staticFile, {}, PeerRole::controller, {}, name };
}

const RequestRouter::Decision notFound { Action::notFound, {}, PeerRole::controller, "not found" };

class WebRouting : public testing::TestWithParam<Row> { };

TEST_P(WebRouting, decides)
{
    EXPECT_EQ(RequestRouter::route(GetParam().request), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, WebRouting,
    testing::Values(Row { "rootIsThePage", web("GET", "/"), file("index.html") },
        Row { "rootWithQuery", web("GET", "/?relay=wss%3A%2F%2Fexample.net%2F"), file("index.html") },
        Row { "pageUnderProxyPrefix", web("GET", "/relay/"), file("index.html") },
        Row { "asset", web("GET", "/app.LSAGLPOZ.js"), file("app.LSAGLPOZ.js") },
        Row { "assetUnderPrefix", web("GET", "/relay/app.css"), file("app.css") },
        Row { "head", web("HEAD", "/sw.js"), file("sw.js") },
        Row { "post", web("POST", "/"),
            { Action::methodNotAllowed, {}, PeerRole::controller, "method not allowed: use GET" } },
        Row { "dotDot", web("GET", "/.."), notFound }, Row { "hiddenFile", web("GET", "/.env"), notFound },
        Row { "percentEncoded", web("GET", "/%2e%2e%2fetc%2fpasswd"), notFound },
        Row { "backslash", web("GET", "/..\\etc"), notFound },
        Row { "absoluteForm", web("GET", "http://example.com/index.html"), notFound },
        Row { "healthStillHealth", web("GET", "/healthz"), { Action::health, {}, PeerRole::controller, {} } },
        Row { "connectStillConnect", { "GET", "/connect", room, "controller", true, true },
            connect(PeerRole::controller) },
        Row { "connectWithoutUpgrade", { "GET", "/connect", room, "controller", false, true },
            bad("expected a WebSocket upgrade request") }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RequestRouter, fileNamesAreOneSegmentOfPlainCharacters)
{
    EXPECT_TRUE(RequestRouter::isValidFileName("index.html"));
    EXPECT_TRUE(RequestRouter::isValidFileName("icon-192.png"));
    EXPECT_TRUE(RequestRouter::isValidFileName("a_b.C9.js"));
    EXPECT_FALSE(RequestRouter::isValidFileName(""));
    EXPECT_FALSE(RequestRouter::isValidFileName(".."));
    EXPECT_FALSE(RequestRouter::isValidFileName(".hidden"));
    EXPECT_FALSE(RequestRouter::isValidFileName("a/b"));
    EXPECT_FALSE(RequestRouter::isValidFileName("a b"));
    EXPECT_FALSE(RequestRouter::isValidFileName("a%2f"));
    EXPECT_FALSE(RequestRouter::isValidFileName(std::string(129, 'a')));
}

TEST(RequestRouter, queryValueTakesFirstOccurrenceAndDecodes)
{
    EXPECT_EQ(RequestRouter::queryValue("a=1&role=agent&role=controller", "role"), "agent");
    EXPECT_EQ(RequestRouter::queryValue("x=a+b%21", "x"), "a b!");
    EXPECT_EQ(RequestRouter::queryValue("x=%zz%4", "x"), "%zz%4");
    EXPECT_EQ(RequestRouter::queryValue("flag", "flag"), "");
    EXPECT_EQ(RequestRouter::queryValue("", "x"), std::nullopt);
}

} // namespace
