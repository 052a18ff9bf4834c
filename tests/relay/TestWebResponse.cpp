#include "relay/WebResponse.h"

#include <gtest/gtest.h>

#include <map>

using namespace Wardlamp;

namespace {

WebFile page()
{
    WebFile file;
    file.body = "<!doctype html>";
    file.gzipBody = "GZ";
    file.contentType = "text/html; charset=utf-8";
    file.etag = "\"0123456789abcdef\"";
    return file;
}

std::map<std::string, std::string> headersOf(const WebResponse& response)
{
    std::map<std::string, std::string> out;
    for (const auto& [name, value] : response.headers)
        out[name] = value;
    return out;
}

TEST(WebResponse, pageIsRevalidatedAndHeldToItsOrigin)
{
    const WebResponse response = WebResponse::forFile(page(), { false, "", "", "relay.example.net", true });
    const auto headers = headersOf(response);
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "<!doctype html>");
    EXPECT_EQ(headers.at("Cache-Control"), "no-cache");
    EXPECT_EQ(headers.at("Referrer-Policy"), "no-referrer");
    EXPECT_EQ(headers.at("X-Content-Type-Options"), "nosniff");
    EXPECT_EQ(headers.at("Content-Type"), "text/html; charset=utf-8");
    const std::string csp = headers.at("Content-Security-Policy");
    EXPECT_NE(csp.find("default-src 'none'"), std::string::npos);
    EXPECT_NE(csp.find("script-src 'self';"), std::string::npos);
    EXPECT_NE(csp.find("connect-src 'self' wss://relay.example.net;"), std::string::npos);
    EXPECT_EQ(csp.find("ws://"), std::string::npos) << "a TLS relay allows no plain WebSocket";
    EXPECT_EQ(csp.find("unsafe-inline"), std::string::npos);
    EXPECT_NE(csp.find("frame-ancestors 'none'"), std::string::npos);
    EXPECT_EQ(headers.count("Content-Encoding"), 0u);
    EXPECT_EQ(headers.at("Strict-Transport-Security"), "max-age=31536000");
}

TEST(WebResponse, hashedNameIsKeptForAYear)
{
    WebFile file = page();
    file.immutable = true;
    const auto headers = headersOf(WebResponse::forFile(file, { false, "gzip", "", "127.0.0.1:8080", false }));
    EXPECT_EQ(headers.at("Cache-Control"), "public, max-age=31536000, immutable");
}

TEST(WebResponse, plainRelayAllowsBothWebSocketSchemesOfItsHost)
{
    // Plain HTTP may sit behind a TLS proxy, where the browser speaks wss://.
    const std::string csp = WebResponse::contentSecurityPolicy("127.0.0.1:8080", false);
    EXPECT_NE(csp.find("connect-src 'self' wss://127.0.0.1:8080 ws://127.0.0.1:8080;"), std::string::npos) << csp;
}

TEST(WebResponse, hostileHostHeaderNeverReachesThePolicy)
{
    for (const char* host : { "evil.example; script-src *", "a b", "x\"y", "", "host/path" }) {
        const std::string csp = WebResponse::contentSecurityPolicy(host, false);
        EXPECT_NE(csp.find("connect-src 'self';"), std::string::npos) << host;
        EXPECT_EQ(csp.find("evil"), std::string::npos) << host;
    }
}

TEST(WebResponse, gzipWhenAcceptedAndNotRefused)
{
    struct Row {
        const char* acceptEncoding;
        bool gzip;
    };
    for (const Row row : { Row { "gzip", true }, Row { "gzip, deflate, br", true }, Row { "br;q=1, GZIP;q=0.5", true },
             Row { "*", true }, Row { "identity", false }, Row { "", false }, Row { "gzip;q=0", false },
             Row { "gzip;q=0.000", false }, Row { "gzip;q=0.001", true }, Row { "x-gzip", false } }) {
        EXPECT_EQ(WebResponse::acceptsGzip(row.acceptEncoding), row.gzip) << row.acceptEncoding;
        const WebResponse response = WebResponse::forFile(page(), { false, row.acceptEncoding, "", "h", false });
        const auto headers = headersOf(response);
        EXPECT_EQ(response.body, row.gzip ? "GZ" : "<!doctype html>") << row.acceptEncoding;
        EXPECT_EQ(headers.count("Content-Encoding"), row.gzip ? 1u : 0u) << row.acceptEncoding;
        EXPECT_EQ(headers.at("Vary"), "Accept-Encoding");
    }
}

TEST(WebResponse, headHasNoBodyButTheLengthOfOne)
{
    const WebResponse response = WebResponse::forFile(page(), { true, "", "", "h", false });
    EXPECT_EQ(response.status, 200);
    EXPECT_TRUE(response.body.empty());
    EXPECT_EQ(response.contentLength, page().body.size());
}

TEST(WebResponse, currentCopyGetsNotModified)
{
    for (const char* tags : { "\"0123456789abcdef\"", "W/\"0123456789abcdef\"", "\"x\", \"0123456789abcdef\"", "*" }) {
        const WebResponse response = WebResponse::forFile(page(), { false, "gzip", tags, "h", false });
        EXPECT_EQ(response.status, 304) << tags;
        EXPECT_TRUE(response.body.empty());
        EXPECT_EQ(headersOf(response).count("Content-Security-Policy"), 1u);
    }
    EXPECT_EQ(WebResponse::forFile(page(), { false, "", "\"other\"", "h", false }).status, 200);
}

} // namespace
