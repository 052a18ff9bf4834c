// What the desktop and its controllers rely on from the relay, over real loopback
// WebSockets against an in-process relay.

#include "InProcessRelay.h"
#include "RelayTestSupport.h"
#include "WsTestClient.h"
#include "relay/RelayLog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

using namespace Wardlamp;
using namespace Wardlamp::RelayTest;

namespace {

const std::string welcomeOnline = R"({"v":1,"kind":"welcome","role":"controller","online":true})";
const std::string welcomeOffline = R"({"v":1,"kind":"welcome","role":"controller","online":false})";
const std::string agentWelcomeAlone = R"({"v":1,"kind":"welcome","role":"agent","online":false,"controllers":0})";
const std::string agentWelcomeWatched = R"({"v":1,"kind":"welcome","role":"agent","online":true,"controllers":1})";
const std::string agentWelcomeTwo = R"({"v":1,"kind":"welcome","role":"agent","online":true,"controllers":2})";
const std::string controllerJoined = R"({"v":1,"kind":"peerJoin","role":"controller"})";
const std::string controllerLeft = R"({"v":1,"kind":"peerLeave","role":"controller"})";
const std::string agentJoined = R"({"v":1,"kind":"peerJoin","role":"agent"})";
const std::string agentLeft = R"({"v":1,"kind":"peerLeave","role":"agent"})";

class RelayContract : public testing::Test {
protected:
    InProcessRelay relay;
    const std::string room = roomId(1);

    // An agent that has seen its welcome.
    void joinAgent(WsTestClient& agent, const std::string& expectedWelcome = agentWelcomeAlone)
    {
        ASSERT_TRUE(agent.join(relay.port(), room, "agent"));
        EXPECT_EQ(agent.read().data, expectedWelcome);
    }
};

TEST_F(RelayContract, msgPassesBothWaysByteForByte)
{
    WsTestClient agent, controller;
    joinAgent(agent);
    ASSERT_TRUE(controller.join(relay.port(), room, "controller"));
    EXPECT_EQ(controller.read().data, welcomeOnline);
    EXPECT_EQ(agent.read().data, controllerJoined);

    // Unusual but valid JSON: key order, spaces, escaped "/", unknown keys, unicode escapes.
    const std::string fromController = " { \"payload\" : \"ab\\/cd+==\", \"kind\":\"msg\" ,\"v\":1, "
                                       "\"role\":\"controller\", \"x\":[1,{\"y\":\"\\u00e9\"}] } ";
    ASSERT_TRUE(controller.sendText(fromController));
    const auto atAgent = agent.read();
    EXPECT_EQ(atAgent.data, fromController);
    EXPECT_TRUE(atAgent.text);

    const std::string fromAgent = msgEnvelope("agent", payloadOfSize(1400)) + "\n";
    ASSERT_TRUE(agent.sendText(fromAgent));
    EXPECT_EQ(controller.read().data, fromAgent);
}

TEST_F(RelayContract, agentHearsControllersComeAndGo)
{
    WsTestClient agent, first, second;
    joinAgent(agent);
    ASSERT_TRUE(first.join(relay.port(), room, "controller"));
    EXPECT_EQ(agent.read().data, controllerJoined);
    ASSERT_TRUE(second.join(relay.port(), room, "controller"));
    EXPECT_EQ(agent.read().data, controllerJoined);
    first.close();
    EXPECT_EQ(agent.read().data, controllerLeft);
    second.drop(); // no closing handshake: still a leave
    EXPECT_EQ(agent.read().data, controllerLeft);
}

TEST_F(RelayContract, agentJoiningLateIsToldOfControllersAlreadyThere)
{
    WsTestClient first, second, agent;
    ASSERT_TRUE(first.join(relay.port(), room, "controller"));
    EXPECT_EQ(first.read().data, welcomeOffline);
    ASSERT_TRUE(second.join(relay.port(), room, "controller"));
    EXPECT_EQ(second.read().data, welcomeOffline);

    // The count first, then one announcement per controller, before anything else.
    joinAgent(agent, agentWelcomeTwo);
    EXPECT_EQ(agent.read().data, controllerJoined);
    EXPECT_EQ(agent.read().data, controllerJoined);
    EXPECT_EQ(first.read().data, agentJoined);
    EXPECT_EQ(second.read().data, agentJoined);

    agent.close();
    EXPECT_EQ(first.read().data, agentLeft);
    EXPECT_EQ(second.read().data, agentLeft);
}

TEST_F(RelayContract, lateControllerGetsLatestCachedEnvelopeOnly)
{
    WsTestClient agent, watcher;
    joinAgent(agent);
    ASSERT_TRUE(watcher.join(relay.port(), room, "controller"));
    EXPECT_EQ(watcher.read().data, welcomeOnline);
    EXPECT_EQ(agent.read().data, controllerJoined);

    const std::string first = msgEnvelope("agent", "first", true);
    const std::string second = msgEnvelope("agent", "second", true);
    const std::string uncached = msgEnvelope("agent", "log lines");
    for (const auto& text : { first, second, uncached })
        ASSERT_TRUE(agent.sendText(text));
    // The watcher seeing all three means the relay has handled all three.
    EXPECT_TRUE(watcher.readUntil(uncached));

    WsTestClient late;
    ASSERT_TRUE(late.join(relay.port(), room, "controller"));
    EXPECT_EQ(late.read().data, welcomeOnline);
    EXPECT_EQ(late.read().data, second);
    const std::string next = msgEnvelope("agent", "next");
    ASSERT_TRUE(agent.sendText(next));
    EXPECT_EQ(late.read().data, next);
}

TEST_F(RelayContract, cacheOutlivesTheAgentWhileControllersStay)
{
    WsTestClient watcher;
    ASSERT_TRUE(watcher.join(relay.port(), room, "controller"));
    EXPECT_EQ(watcher.read().data, welcomeOffline);
    const std::string snapshot = msgEnvelope("agent", "snapshot", true);
    {
        WsTestClient agent;
        ASSERT_TRUE(agent.join(relay.port(), room, "agent"));
        EXPECT_EQ(watcher.read().data, agentJoined);
        ASSERT_TRUE(agent.sendText(snapshot));
        EXPECT_EQ(watcher.read().data, snapshot);
        agent.close();
        EXPECT_EQ(watcher.read().data, agentLeft);
    }
    WsTestClient late;
    ASSERT_TRUE(late.join(relay.port(), room, "controller"));
    EXPECT_EQ(late.read().data, welcomeOffline);
    EXPECT_EQ(late.read().data, snapshot);
}

TEST_F(RelayContract, roomsAreIsolated)
{
    WsTestClient agentA, agentB, controllerA, controllerB;
    const std::string roomB = roomId(2);
    joinAgent(agentA);
    ASSERT_TRUE(agentB.join(relay.port(), roomB, "agent"));
    EXPECT_EQ(agentB.read().data, agentWelcomeAlone);
    ASSERT_TRUE(controllerA.join(relay.port(), room, "controller"));
    ASSERT_TRUE(controllerB.join(relay.port(), roomB, "controller"));
    EXPECT_EQ(controllerA.read().data, welcomeOnline);
    EXPECT_EQ(controllerB.read().data, welcomeOnline);
    EXPECT_EQ(agentA.read().data, controllerJoined);
    EXPECT_EQ(agentB.read().data, controllerJoined);

    const std::string forA = msgEnvelope("agent", "for-a", true);
    const std::string forB = msgEnvelope("agent", "for-b", true);
    ASSERT_TRUE(agentA.sendText(forA));
    ASSERT_TRUE(agentB.sendText(forB));
    EXPECT_EQ(controllerA.read().data, forA);
    EXPECT_EQ(controllerB.read().data, forB);

    const std::string commandA = msgEnvelope("controller", "cmd-a");
    const std::string commandB = msgEnvelope("controller", "cmd-b");
    ASSERT_TRUE(controllerA.sendText(commandA));
    ASSERT_TRUE(controllerB.sendText(commandB));
    EXPECT_EQ(agentA.read().data, commandA);
    EXPECT_EQ(agentB.read().data, commandB);
}

TEST_F(RelayContract, secondAgentReplacesTheFirst)
{
    WsTestClient oldAgent, controller, newAgent;
    joinAgent(oldAgent);
    ASSERT_TRUE(controller.join(relay.port(), room, "controller"));
    EXPECT_EQ(controller.read().data, welcomeOnline);
    EXPECT_EQ(oldAgent.read().data, controllerJoined);

    ASSERT_TRUE(newAgent.join(relay.port(), room, "agent"));
    EXPECT_EQ(newAgent.read().data, agentWelcomeWatched);
    EXPECT_EQ(newAgent.read().data, controllerJoined);
    EXPECT_FALSE(oldAgent.read().ok);
    EXPECT_EQ(oldAgent.closeCode(), 4000);
    EXPECT_EQ(controller.read().data, agentLeft);
    EXPECT_EQ(controller.read().data, agentJoined);

    const std::string command = msgEnvelope("controller", "to-new");
    ASSERT_TRUE(controller.sendText(command));
    EXPECT_EQ(newAgent.read().data, command);
}

TEST_F(RelayContract, agentsTakingTurnsAreLoggedOncePerPair)
{
    std::mutex mutex;
    std::vector<std::string> lines;
    RelayLog::setSink([&](std::string_view line) {
        const std::lock_guard lock(mutex);
        lines.emplace_back(line);
    });
    struct Restore {
        ~Restore() { RelayLog::setSink({}); }
    } restore;

    std::vector<std::unique_ptr<WsTestClient>> agents;
    agents.push_back(std::make_unique<WsTestClient>());
    joinAgent(*agents.back());
    for (int turn = 0; turn < 4; ++turn) {
        agents.push_back(std::make_unique<WsTestClient>());
        ASSERT_TRUE(agents.back()->join(relay.port(), room, "agent"));
        EXPECT_EQ(agents.back()->read().data, agentWelcomeAlone);
        WsTestClient& replaced = *agents[agents.size() - 2];
        EXPECT_FALSE(replaced.read().ok);
        EXPECT_EQ(replaced.closeCode(), 4000);
    }
    const std::lock_guard lock(mutex);
    const auto replacements = std::count_if(
        lines.begin(), lines.end(), [](const std::string& line) { return line.rfind("replace ", 0) == 0; });
    EXPECT_EQ(replacements, 1);
}

TEST_F(RelayContract, connectionsPerAddressAreLimited)
{
    RelayOptions options = InProcessRelay::testOptions();
    options.maxConnectionsPerIp = 2;
    InProcessRelay limited(options);
    WsTestClient agent, controller, third;
    ASSERT_TRUE(agent.join(limited.port(), room, "agent"));
    ASSERT_TRUE(controller.join(limited.port(), room, "controller"));
    EXPECT_FALSE(third.join(limited.port(), room, "controller"));
    EXPECT_TRUE(limited.waitForStats([](const RelayStats& stats) { return stats.perHostRejected == 1; }));
    // The two already in are untouched, and a place freed is a place again.
    EXPECT_EQ(agent.read().data, agentWelcomeAlone);
    EXPECT_EQ(controller.read().data, welcomeOnline);
    controller.close();
    EXPECT_TRUE(limited.waitForStats([](const RelayStats& stats) { return stats.connections == 1; }));
    WsTestClient fourth;
    EXPECT_TRUE(fourth.join(limited.port(), room, "controller"));
}

TEST_F(RelayContract, queryParametersStandInForHeadersUnderAProxyPrefix)
{
    WsTestClient agent, browser;
    joinAgent(agent);
    ASSERT_TRUE(browser.connect(relay.port(), "/relay/connect?room=" + room + "&role=controller", {}));
    EXPECT_EQ(browser.read().data, welcomeOnline);
    EXPECT_EQ(agent.read().data, controllerJoined);
}

TEST_F(RelayContract, pingsAreAnswered)
{
    WsTestClient agent;
    joinAgent(agent);
    ASSERT_TRUE(agent.ping());
    // The pong frame comes before the answer to the later "ping" envelope.
    ASSERT_TRUE(agent.sendText(R"({"v":1,"kind":"ping"})"));
    EXPECT_EQ(agent.read().data, R"({"v":1,"kind":"pong"})");
    EXPECT_TRUE(agent.pongSeen());
}

TEST_F(RelayContract, controllersPerRoomAreLimited)
{
    RelayOptions options = InProcessRelay::testOptions();
    options.maxControllersPerRoom = 1;
    InProcessRelay small(options);
    WsTestClient first, second, otherRoom;
    ASSERT_TRUE(first.join(small.port(), room, "controller"));
    EXPECT_FALSE(second.join(small.port(), room, "controller"));
    EXPECT_EQ(second.httpStatus(), 503);
    EXPECT_EQ(second.httpBody(), "room is full\n");
    EXPECT_TRUE(otherRoom.join(small.port(), roomId(9), "controller"));
}

TEST_F(RelayContract, shutdownClosesEveryPeerWithGoingAway)
{
    WsTestClient agent, controller;
    joinAgent(agent);
    ASSERT_TRUE(controller.join(relay.port(), room, "controller"));
    EXPECT_EQ(controller.read().data, welcomeOnline);
    EXPECT_EQ(agent.read().data, controllerJoined);

    auto stopped = std::async(std::launch::async, [this] { return relay.shutdown(); });
    EXPECT_FALSE(agent.read().ok);
    EXPECT_EQ(agent.closeCode(), 1001);
    EXPECT_FALSE(controller.read().ok);
    EXPECT_EQ(controller.closeCode(), 1001);
    EXPECT_TRUE(stopped.get());
}

struct RefusalRow {
    const char* name;
    std::string target;
    std::vector<std::pair<std::string, std::string>> headers;
    int status;
    std::string body;
};

class RefusedUpgrades : public testing::TestWithParam<RefusalRow> {
protected:
    InProcessRelay relay;
};

TEST_P(RefusedUpgrades, answerStatusWithOneLine)
{
    WsTestClient client;
    EXPECT_FALSE(client.connect(relay.port(), GetParam().target, GetParam().headers));
    EXPECT_EQ(client.httpStatus(), GetParam().status);
    EXPECT_EQ(client.httpBody(), GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedUpgrades,
    testing::Values(RefusalRow { "missingRoom", "/connect", { { "X-WL-Role", "agent" } }, 400,
                        "missing room: send the X-WL-Room header or the room query parameter\n" },
        RefusalRow { "upperCaseRoom", "/connect",
            { { "X-WL-Room", "ABCDEF0123456789ABCDEF0123456789" }, { "X-WL-Role", "agent" } }, 400,
            "invalid room: expected 32 lower-case hexadecimal characters\n" },
        RefusalRow { "missingRole", "/connect", { { "X-WL-Room", roomId(3) } }, 400,
            "missing role: send the X-WL-Role header or the role query parameter\n" },
        RefusalRow { "unknownRole", "/connect", { { "X-WL-Room", roomId(3) }, { "X-WL-Role", "admin" } }, 400,
            "invalid role: expected \"agent\" or \"controller\"\n" },
        RefusalRow { "badQueryRoom", "/connect?room=xyz&role=agent", {}, 400,
            "invalid room: expected 32 lower-case hexadecimal characters\n" },
        RefusalRow {
            "otherPath", "/socket", { { "X-WL-Room", roomId(3) }, { "X-WL-Role", "agent" } }, 404, "not found\n" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RelayHttp, healthzAndPlainRequests)
{
    // The relay alone, without the web controller it serves by default.
    RelayOptions options = InProcessRelay::testOptions();
    options.web = WebContent::Source::none;
    InProcessRelay relay(options);
    auto get = [&](const std::string& line) { return rawExchange(relay.port(), line + "\r\nHost: x\r\n\r\n"); };
    const auto health = get("GET /healthz HTTP/1.1");
    EXPECT_EQ(statusOf(health), 200);
    EXPECT_EQ(bodyOf(health), "ok");
    const auto head = get("HEAD /healthz HTTP/1.1");
    EXPECT_EQ(statusOf(head), 200);
    EXPECT_EQ(bodyOf(head), "");
    const auto missing = get("GET /index.html HTTP/1.1");
    EXPECT_EQ(statusOf(missing), 404);
    const auto notUpgrade = get("GET /connect HTTP/1.1");
    EXPECT_EQ(statusOf(notUpgrade), 400);
    EXPECT_EQ(bodyOf(notUpgrade), "expected a WebSocket upgrade request\n");
}

TEST(RelayHttp, webControllerFilesShareOneConnection)
{
    InProcessRelay relay;
    // Two requests on one connection, the second asking to close it: both answered.
    const auto both = rawExchange(relay.port(),
        "GET / HTTP/1.1\r\nHost: x\r\n\r\nGET /manifest.webmanifest HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    EXPECT_EQ(statusOf(both), 200);
    EXPECT_NE(both.find("Content-Type: text/html; charset=utf-8"), std::string::npos);
    EXPECT_NE(both.find("Content-Type: application/manifest+json"), std::string::npos);
    EXPECT_NE(both.find("Content-Security-Policy: default-src 'none'"), std::string::npos);
    const auto missing = rawExchange(relay.port(), "GET /index.htm HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(statusOf(missing), 404);
    const auto upgrade = rawExchange(relay.port(), "GET /connect HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(statusOf(upgrade), 400);
}

} // namespace
