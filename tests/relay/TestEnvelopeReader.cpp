#include "relay/EnvelopeReader.h"

#include <gtest/gtest.h>

using namespace Wardlamp;
using Facts = EnvelopeReader::Facts;

namespace {

struct Row {
    const char* name;
    std::string text;
    std::optional<Facts> expected;
};

class EnvelopeTable : public testing::TestWithParam<Row> { };

TEST_P(EnvelopeTable, readsOrRefuses)
{
    EXPECT_EQ(EnvelopeReader::read(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Table, EnvelopeTable,
    testing::Values(Row { "msgFromAgent", R"({"v":1,"kind":"msg","role":"agent","payload":"QUJD"})",
                        Facts { "msg", "agent", false } },
        Row { "cachedSnapshot", R"({"v":1,"kind":"msg","role":"agent","payload":"x","cache":true})",
            Facts { "msg", "agent", true } },
        Row { "cacheFalse", R"({"cache":false,"kind":"msg","v":1})", Facts { "msg", std::nullopt, false } },
        Row { "cacheNotBool", R"({"v":1,"kind":"msg","cache":"true"})", Facts { "msg", std::nullopt, false } },
        Row { "unknownKeysAndWhitespace", " {\n\"kind\" : \"ping\", \"v\":2, \"extra\":[1,{\"a\":null}]}\t",
            Facts { "ping", std::nullopt, false } },
        Row { "roleNotString", R"({"v":1,"kind":"msg","role":7})", Facts { "msg", std::nullopt, false } },
        Row { "array", "[1,2,3]", std::nullopt }, Row { "string", "\"msg\"", std::nullopt },
        Row { "number", "42", std::nullopt }, Row { "null", "null", std::nullopt },
        Row { "emptyObject", "{}", std::nullopt }, Row { "noKind", R"({"v":1})", std::nullopt },
        Row { "noVersion", R"({"kind":"msg"})", std::nullopt },
        Row { "kindNotString", R"({"v":1,"kind":3})", std::nullopt },
        Row { "versionNotNumber", R"({"v":"1","kind":"msg"})", std::nullopt },
        Row { "truncated", R"({"v":1,"kind":"msg")", std::nullopt },
        Row { "trailingGarbage", R"({"v":1,"kind":"msg"}x)", std::nullopt },
        Row { "twoDocuments", R"({"v":1,"kind":"msg"}{"v":1,"kind":"msg"})", std::nullopt },
        Row { "empty", "", std::nullopt },
        Row { "invalidUtf8InString", std::string("{\"v\":1,\"kind\":\"m\xff\"}"), std::nullopt },
        Row { "nulByte", std::string("{\"v\":1,\"kind\":\"msg\"}\0", 21), std::nullopt },
        Row { "tooDeep", R"({"v":1,"kind":"msg","x":)" + std::string(100, '[') + std::string(100, ']') + "}",
            std::nullopt }),
    [](const auto& row) { return std::string(row.param.name); });

TEST(EnvelopeReader, largePayloadBeyondStackBufferIsRead)
{
    const std::string payload(3 * 1024 * 1024, 'A');
    const auto facts = EnvelopeReader::read(R"({"v":1,"kind":"msg","payload":")" + payload + R"(","cache":true})");
    ASSERT_TRUE(facts);
    EXPECT_TRUE(facts->cache);
}

} // namespace
