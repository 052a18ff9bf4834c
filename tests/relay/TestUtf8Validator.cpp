#include "relay/Utf8Validator.h"

#include <gtest/gtest.h>

using namespace Wardlamp;

namespace {

struct Row {
    const char* name;
    std::string text;
    bool valid;
};

class Utf8Table : public testing::TestWithParam<Row> { };

TEST_P(Utf8Table, acceptsWellFormedTextOnly)
{
    EXPECT_EQ(Utf8Validator::isValid(GetParam().text), GetParam().valid);
    // The same bytes behind a long ASCII run, where the eight-byte fast path hands over.
    EXPECT_EQ(Utf8Validator::isValid(std::string(13, 'a') + GetParam().text), GetParam().valid);
}

// Boundaries from RFC 3629, section 4 (the UTF8-octets grammar).
INSTANTIATE_TEST_SUITE_P(Table, Utf8Table,
    testing::Values(Row { "empty", "", true }, Row { "ascii", "plain text 0123456789", true },
        Row { "twoBytes", "\xc2\x80\xdf\xbf", true }, Row { "threeBytes", "\xe0\xa0\x80\xef\xbf\xbf", true },
        Row { "fourBytes", "\xf0\x90\x80\x80\xf4\x8f\xbf\xbf", true }, Row { "overlongTwo", "\xc0\x80", false },
        Row { "overlongC1", "\xc1\xbf", false }, Row { "overlongThree", "\xe0\x9f\xbf", false },
        Row { "overlongFour", "\xf0\x8f\xbf\xbf", false }, Row { "surrogate", "\xed\xa0\x80", false },
        Row { "pastMaximum", "\xf4\x90\x80\x80", false }, Row { "leadF5", "\xf5\x80\x80\x80", false },
        Row { "loneContinuation", "\x80", false }, Row { "truncatedAtEnd", "ok\xe2\x82", false },
        Row { "badContinuation", "\xe2\x28\xa1", false }),
    [](const auto& row) { return std::string(row.param.name); });

} // namespace
