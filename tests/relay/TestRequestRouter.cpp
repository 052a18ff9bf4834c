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
    return { Action::Connect, std::string(room), role, {} };
}

RequestRouter::Decision bad(const char* reason)
{
    return { Action::BadRequest, {}, PeerRole::Controller, reason };
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
    testing::Values(Row { "headersAgent", upgrade("/connect", room, "agent"), connect(PeerRole::Agent) },
        Row { "headersController", upgrade("/connect", room, "controller"), connect(PeerRole::Controller) },
        Row { "underProxyPrefix", upgrade("/relay/v1/connect", room, "agent"), connect(PeerRole::Agent) },
        Row { "queryForm", upgrade("/connect?room=0123456789abcdef0123456789abcdef&role=controller", {}, {}),
            connect(PeerRole::Controller) },
        Row { "queryPercentEncoded",
            upgrade("/x/connect?role=%63ontroller&room=0123456789abcdef0123456789abcdef", {}, {}),
            connect(PeerRole::Controller) },
        Row { "headerWinsOverQuery", upgrade("/connect?role=controller", room, "agent"), connect(PeerRole::Agent) },
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
            { Action::MethodNotAllowed, {}, PeerRole::Controller, "method not allowed: use GET" } },
        Row { "connectNotLastSegment", upgrade("/connect/extra", room, "agent"),
            { Action::NotFound, {}, PeerRole::Controller, "not found" } },
        Row { "connectPrefixOnly", upgrade("/connectx", room, "agent"),
            { Action::NotFound, {}, PeerRole::Controller, "not found" } },
        Row { "absoluteFormTarget", upgrade("http://example.com/connect", room, "agent"),
            { Action::NotFound, {}, PeerRole::Controller, "not found" } },
        Row { "root", { "GET", "/", {}, {}, false }, { Action::NotFound, {}, PeerRole::Controller, "not found" } },
        Row { "health", { "GET", "/healthz", {}, {}, false }, { Action::Health, {}, PeerRole::Controller, {} } },
        Row { "healthHead", { "HEAD", "/relay/healthz", {}, {}, false },
            { Action::Health, {}, PeerRole::Controller, {} } },
        Row { "healthDelete", { "DELETE", "/healthz", {}, {}, false },
            { Action::MethodNotAllowed, {}, PeerRole::Controller, "method not allowed: use GET" } }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RequestRouter, queryValueTakesFirstOccurrenceAndDecodes)
{
    EXPECT_EQ(RequestRouter::queryValue("a=1&role=agent&role=controller", "role"), "agent");
    EXPECT_EQ(RequestRouter::queryValue("x=a+b%21", "x"), "a b!");
    EXPECT_EQ(RequestRouter::queryValue("x=%zz%4", "x"), "%zz%4");
    EXPECT_EQ(RequestRouter::queryValue("flag", "flag"), "");
    EXPECT_EQ(RequestRouter::queryValue("", "x"), std::nullopt);
}

} // namespace
