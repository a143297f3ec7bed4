#include <gtest/gtest.h>

#include <optional>

#include "command_line.hpp"

namespace {

// Every text is either a whole decimal or 0x-hexadecimal number of at most
// 32 bits, or refused: a refused text must never read some other block.
TEST(ParseOffset, TakesWholeNumbersAndRefusesEverythingElse)
{
    struct Case {
        const char* text;
        std::optional<std::uint32_t> offset;
    };
    const Case cases[] = {
        {"0", 0},
        {"32", 32},
        {"007", 7},
        {"0100", 100}, // leading zeros mean nothing: not octal
        {"00000000000000000000000000042", 42},
        {"4294967295", 4294967295u},
        {"4294967296", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"0x20", 32},
        {"0X1f", 31},
        {"0xaBcD", 0xABCD},
        {"0x00000064", 100}, // the listing's hex_offset column
        {"0xFFFFFFFF", 4294967295u},
        {"0x000000000FFFFFFFF", 4294967295u},
        {"0x100000000", std::nullopt},
        {"0x", std::nullopt},
        {"0X", std::nullopt},
        {"0x1g", std::nullopt},
        {"0x-1", std::nullopt},
        {"0x 1", std::nullopt},
        {"00x20", std::nullopt},
        {"x20", std::nullopt},
        {"1f", std::nullopt}, // hexadecimal digits only after 0x
        {"", std::nullopt},
        {" 32", std::nullopt},
        {"32 ", std::nullopt},
        {"\t32", std::nullopt},
        {"32\n", std::nullopt},
        {"+32", std::nullopt},
        {"-0", std::nullopt},
        {"-1", std::nullopt},
        {"32k", std::nullopt},
        {"1e3", std::nullopt},
        {"1.0", std::nullopt},
        {"abc", std::nullopt},
        {"list", std::nullopt}, // the word is the entry routine's, not an offset
    };
    for (const Case& c : cases)
        EXPECT_EQ(parse_offset(c.text), c.offset) << '"' << c.text << '"';
}

} // namespace
