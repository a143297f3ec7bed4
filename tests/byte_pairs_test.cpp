#include <gtest/gtest.h>

#include <numeric>
#include <random>
#include <vector>

#include "byte_pairs.hpp"

namespace {

std::vector<std::uint8_t> swapped(std::vector<std::uint8_t> bytes)
{
    swap_byte_pairs(bytes.data(), bytes.size());
    return bytes;
}

TEST(SwapBytePairs, ExchangesEachPairAndLeavesAnOddLastByte)
{
    struct Case {
        std::vector<std::uint8_t> in, out;
    };
    const Case cases[] = {
        {{}, {}},
        {{0x01}, {0x01}},
        {{0x01, 0x02}, {0x02, 0x01}},
        {{0x01, 0x02, 0x03, 0x04, 0x05}, {0x02, 0x01, 0x04, 0x03, 0x05}},
        {{'M', 'I', 'O', '0'}, {'I', 'M', '0', 'O'}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(swapped(c.in), c.out);
}

// Every length around the widths a vectorised loop works in, against the
// plain definition, and twice gives back the input.
TEST(SwapBytePairs, MatchesTheDefinitionAtEveryLengthAndIsAnInvolution)
{
    std::mt19937 random(7);
    for (std::size_t length = 0; length < 300; ++length) {
        std::vector<std::uint8_t> bytes(length);
        for (auto& b : bytes)
            b = static_cast<std::uint8_t>(random());
        std::vector<std::uint8_t> expected = bytes;
        for (std::size_t i = 0; i + 1 < length; i += 2)
            std::swap(expected[i], expected[i + 1]);
        const std::vector<std::uint8_t> once = swapped(bytes);
        ASSERT_EQ(once, expected) << "length " << length;
        ASSERT_EQ(swapped(once), bytes) << "length " << length;
    }
}

TEST(SwapBytePairs, WorksOnUnalignedStarts)
{
    std::vector<std::uint8_t> bytes(67);
    std::iota(bytes.begin(), bytes.end(), 0);
    swap_byte_pairs(bytes.data() + 1, 65);
    EXPECT_EQ(bytes[0], 0);
    EXPECT_EQ(bytes[1], 2);
    EXPECT_EQ(bytes[2], 1);
    EXPECT_EQ(bytes[65], 65); // odd last byte of the 65 swapped
    EXPECT_EQ(bytes[66], 66); // outside the range
}

} // namespace
