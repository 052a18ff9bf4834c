#include "relay/WebSocketHandshake.h"

#include <gtest/gtest.h>

using namespace Wardlamp;

namespace {

// The sample handshake of RFC 6455, section 1.3.
TEST(WebSocketHandshake, acceptValueOfTheRfcSample)
{
    EXPECT_EQ(WebSocketHandshake::acceptValue("dGhlIHNhbXBsZSBub25jZQ=="), "s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    const std::string response = WebSocketHandshake::response("s3pPLMBiTxaQ9kYGzzhZRbK+xOo=");
    EXPECT_EQ(response.rfind("HTTP/1.1 101 Switching Protocols\r\n", 0), 0u);
    EXPECT_NE(response.find("\r\nSec-WebSocket-Accept: s3pPLMBiTxaQ9kYGzzhZRbK+xOo=\r\n"), std::string::npos);
    EXPECT_EQ(response.substr(response.size() - 4), "\r\n\r\n");
}

class BadKeys : public testing::TestWithParam<std::string> { };

TEST_P(BadKeys, areRefused)
{
    EXPECT_EQ(WebSocketHandshake::acceptValue(GetParam()), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(Table, BadKeys,
    testing::Values(std::string(), std::string("short=="), std::string("dGhlIHNhbXBsZSBub25jZQ"),
        std::string("dGhlIHNhbXBsZSBub25jZQ==="), std::string("dGhlIHNhbXBsZSBub25j*Q=="),
        std::string("dGhlIHNhbXBsZSBub25jZQ=A")));

TEST(WebSocketHandshake, onlyVersion13)
{
    EXPECT_TRUE(WebSocketHandshake::isSupportedVersion("13"));
    EXPECT_FALSE(WebSocketHandshake::isSupportedVersion("8"));
    EXPECT_FALSE(WebSocketHandshake::isSupportedVersion(""));
}

} // namespace
