#include <gtest/gtest.h>

#include "command_line.hpp"

namespace {

TEST(ParseOffset, FollowsTheDecimalConversion)
{
    struct Case {
        const char* text;
        std::uint32_t offset;
    };
    const Case cases[] = {
        {"0", 0},
        {"32", 32},
        {"  32", 32},
        {"\t\n32", 32},
        {"32k", 32},
        {"16abc", 16},
        {"0x10", 0},
        {"0x20", 0},
        {"", 0},
        {"list", 0},
        {"abc", 0},
        {"+16", 16},
        {"-1", 4294967295u},
        {"-16", 4294967280u},
        {"+-5", 0},
        {" -", 0},
        {"4294967295", 4294967295u},
        {"4294967296", 4294967295u},
        {"99999999999999999999999", 4294967295u},
        {"-4294967296", 4294967295u},
        {"-4294967295", 1},
        {"2147483648", 2147483648u},
        {"007", 7},
        {"1 2", 1},
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_offset(c.text), c.offset) << '"' << c.text << '"';
}

} // namespace
