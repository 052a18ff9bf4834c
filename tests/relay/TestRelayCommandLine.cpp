#include "relay/RelayCommandLine.h"

#include <gtest/gtest.h>

#include <vector>

using namespace Wardlamp;
using namespace std::chrono_literals;

namespace {

RelayCommandLine::Result parse(std::vector<std::string_view> arguments)
{
    return RelayCommandLine::parse(arguments);
}

struct AcceptedRow {
    const char* name;
    std::vector<std::string_view> arguments;
    RelayOptions expected;
};

RelayOptions with(auto change)
{
    RelayOptions options;
    change(options);
    return options;
}

class AcceptedArguments : public testing::TestWithParam<AcceptedRow> { };

TEST_P(AcceptedArguments, fillOptions)
{
    const auto result = parse(GetParam().arguments);
    ASSERT_EQ(result.outcome, RelayCommandLine::Outcome::run) << result.error;
    EXPECT_EQ(result.options, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, AcceptedArguments,
    testing::Values(AcceptedRow { "defaults", {}, RelayOptions {} },
        AcceptedRow {
            "listenPortZero", { "--listen", "127.0.0.1:0" }, with([](RelayOptions& o) { o.listenPort = 0; }) },
        AcceptedRow { "listenEqualsForm", { "--listen=0.0.0.0:443" }, with([](RelayOptions& o) {
                         o.listenAddress = "0.0.0.0";
                         o.listenPort = 443;
                     }) },
        AcceptedRow { "listenIpv6Bracketed", { "--listen", "[::1]:9000" }, with([](RelayOptions& o) {
                         o.listenAddress = "::1";
                         o.listenPort = 9000;
                     }) },
        AcceptedRow { "listenAllInterfaces", { "--listen", ":8081" }, with([](RelayOptions& o) {
                         o.listenAddress = "0.0.0.0";
                         o.listenPort = 8081;
                     }) },
        AcceptedRow { "webRoot", { "--web-root", "/srv/wardlamp-web" }, with([](RelayOptions& o) {
                         o.web = WebContent::Source::directory;
                         o.webRoot = "/srv/wardlamp-web";
                     }) },
        AcceptedRow { "noWeb", { "--no-web" }, with([](RelayOptions& o) { o.web = WebContent::Source::none; }) },
        AcceptedRow { "tlsPair", { "--tls-cert", "c.pem", "--tls-key=k.pem" }, with([](RelayOptions& o) {
                         o.tlsCertificateFile = "c.pem";
                         o.tlsKeyFile = "k.pem";
                     }) },
        AcceptedRow { "limits",
            { "--max-frame-bytes", "4096", "--max-controllers", "2", "--max-connections", "50", "--idle-timeout", "5",
                "--send-queue-bytes", "8192" },
            with([](RelayOptions& o) {
                o.maxFrameBytes = 4096;
                o.maxControllersPerRoom = 2;
                o.maxConnections = 50;
                o.idleTimeout = 5s;
                o.sendQueueBytes = 8192;
            }) },
        AcceptedRow { "slowPeerBounds", { "--message-timeout", "5", "--unfinished-message-bytes=2097152" },
            with([](RelayOptions& o) {
                o.messageTimeout = 5s;
                o.unfinishedMessageBytes = 2097152;
            }) },
        AcceptedRow {
            "perIp", { "--max-connections-per-ip", "16" }, with([](RelayOptions& o) { o.maxConnectionsPerIp = 16; }) }),
    [](const auto& row) { return std::string(row.param.name); });

struct RefusedRow {
    const char* name;
    std::vector<std::string_view> arguments;
    const char* errorStart;
};

class RefusedArguments : public testing::TestWithParam<RefusedRow> { };

TEST_P(RefusedArguments, giveOneLineError)
{
    const auto result = parse(GetParam().arguments);
    ASSERT_EQ(result.outcome, RelayCommandLine::Outcome::error);
    EXPECT_EQ(result.error.rfind(GetParam().errorStart, 0), 0u) << result.error;
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedArguments,
    testing::Values(RefusedRow { "unknownFlag", { "--verbose" }, "unknown option --verbose" },
        RefusedRow { "listenWithoutValue", { "--listen" }, "--listen expects" },
        RefusedRow { "listenWithoutPort", { "--listen", "127.0.0.1" }, "--listen expects" },
        RefusedRow { "listenPortTooLarge", { "--listen", "127.0.0.1:65536" }, "--listen expects" },
        RefusedRow { "listenBareIpv6", { "--listen", "::1:80" }, "--listen expects" },
        RefusedRow { "frameNotNumber", { "--max-frame-bytes", "1k" }, "--max-frame-bytes expects" },
        RefusedRow { "frameTooSmall", { "--max-frame-bytes", "10" }, "--max-frame-bytes expects" },
        RefusedRow { "negativeControllers", { "--max-controllers", "-1" }, "--max-controllers expects" },
        RefusedRow { "zeroConnections", { "--max-connections", "0" }, "--max-connections expects" },
        RefusedRow { "perIpNotANumber", { "--max-connections-per-ip", "x" }, "--max-connections-per-ip expects" },
        RefusedRow { "zeroMessageTimeout", { "--message-timeout", "0" }, "--message-timeout expects" },
        RefusedRow { "messageTimeoutNotANumber", { "--message-timeout", "1s" }, "--message-timeout expects" },
        RefusedRow {
            "budgetNotANumber", { "--unfinished-message-bytes", "64M" }, "--unfinished-message-bytes expects" },
        RefusedRow { "budgetBelowFrame", { "--max-frame-bytes", "8192", "--unfinished-message-bytes", "4096" },
            "--unfinished-message-bytes must be at least" },
        RefusedRow { "zeroIdle", { "--idle-timeout", "0" }, "--idle-timeout expects" },
        RefusedRow { "webRootWithoutFolder", { "--web-root" }, "--web-root expects a folder" },
        RefusedRow { "webRootAndNoWeb", { "--no-web", "--web-root", "/srv/w" }, "--web-root and --no-web contradict" },
        RefusedRow { "noWebAfterWebRoot", { "--web-root=/srv/w", "--no-web" }, "--web-root and --no-web contradict" },
        RefusedRow { "noWebWithValue", { "--no-web=yes" }, "--no-web takes no value" },
        RefusedRow { "certWithoutKey", { "--tls-cert", "c.pem" }, "--tls-cert and --tls-key go together" },
        RefusedRow { "queueBelowFrame", { "--max-frame-bytes", "8192", "--send-queue-bytes", "4096" },
            "--send-queue-bytes must be at least" }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(RelayCommandLine, helpWinsOverEverythingAfterIt)
{
    EXPECT_EQ(parse({ "--help", "--bogus" }).outcome, RelayCommandLine::Outcome::showHelp);
    EXPECT_EQ(parse({ "-h" }).outcome, RelayCommandLine::Outcome::showHelp);
    EXPECT_NE(RelayCommandLine::helpText().find("--listen ADDRESS:PORT"), std::string::npos);
}

} // namespace
