#include <gtest/gtest.h>

#include <vector>

#include "block_writer.hpp"
#include "byte_pairs.hpp"
#include "mio0_format.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(const char* magic, std::uint32_t d, std::uint32_t p, std::uint32_t l)
{
    Bytes h(16);
    mio0::write_header(h.data(), {false, d, p, l});
    std::copy(magic, magic + 4, h.begin());
    return h;
}

TEST(ParseHeader, RecognisesBothMagicsExactlyAndRefusesWrappingSizes)
{
    struct Case {
        Bytes bytes;
        mio0::HeaderStatus status;
    };
    using mio0::HeaderStatus;
    Bytes swapped = header("MIO0", 1, 16, 16);
    swap_byte_pairs(swapped.data(), swapped.size());
    const Case cases[] = {
        {header("MIO0", 5, 16, 20), HeaderStatus::Ok},
        {swapped, HeaderStatus::Ok},
        {header("mio0", 5, 16, 20), HeaderStatus::BadMagic},
        {header("MIO1", 5, 16, 20), HeaderStatus::BadMagic},
        {header("OIM0", 5, 16, 20), HeaderStatus::BadMagic},
        {header("IM0o", 5, 16, 20), HeaderStatus::BadMagic},
        {header("MIO0", 5, 15, 20), HeaderStatus::SizesWrap}, // P below 16
        {header("MIO0", 5, 0, 0), HeaderStatus::SizesWrap},
        {header("MIO0", 5, 20, 19), HeaderStatus::SizesWrap}, // L below P
        {header("MIO0", 5, 16 + (1u << 29), 16 + (1u << 29)), HeaderStatus::SizesWrap}, // 8 x (P - 16) wraps
        {header("MIO0", 5, 0xFFFFFFFF, 0xFFFFFFFF), HeaderStatus::SizesWrap},
        {header("MIO0", 5, 15 + (1u << 29), 0xFFFFFFFF), HeaderStatus::Ok}, // largest layout region
        {header("MIO0", 0xFFFFFFFF, 16, 16), HeaderStatus::Ok},
    };
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        mio0::BlockHeader h;
        EXPECT_EQ(mio0::parse_header(cases[n].bytes.data(), h), cases[n].status) << "case " << n;
    }
}

TEST(ParseHeader, WriteThenParseGivesTheFieldsBackInEitherStorage)
{
    for (const bool swapped : {false, true}) {
        const mio0::BlockHeader written{swapped, 0x01020304, 0x00000020, 0x00000A0B};
        std::uint8_t bytes[16];
        mio0::write_header(bytes, written);
        EXPECT_EQ(std::string(bytes, bytes + 4), swapped ? "IM0O" : "MIO0");
        EXPECT_EQ(bytes[4], swapped ? 0x02 : 0x01); // the numbers are stored pair-swapped too
        mio0::BlockHeader read;
        ASSERT_EQ(mio0::parse_header(bytes, read), mio0::HeaderStatus::Ok);
        EXPECT_EQ(read.swapped, swapped);
        EXPECT_EQ(read.decompressed_size, 0x01020304u);
        EXPECT_EQ(read.pairs_offset, 0x20u);
        EXPECT_EQ(read.literals_offset, 0xA0Bu);
        EXPECT_EQ(read.flag_count(), 128u);
        EXPECT_EQ(read.pair_count(), (0xA0Bu - 0x20u) / 2); // the odd byte belongs to no pair
    }
}

TEST(PairWord, LengthAndDistance)
{
    struct Case {
        std::uint16_t word;
        unsigned length, distance;
    };
    for (const Case c : {Case{0x0000, 3, 1}, Case{0xFFFF, 18, 4096}, Case{0x1234, 4, 565}}) {
        EXPECT_EQ(mio0::pair_length(c.word), c.length);
        EXPECT_EQ(mio0::pair_distance(c.word), c.distance);
        EXPECT_EQ(mio0::pair_word(c.length, c.distance), c.word);
    }
}

// The storage rule read and written: a block placed pair-swapped into an
// image is what swapping the image whole makes of the block placed in
// normal storage, whatever the parities, and the bytes around it stay.
TEST(PlaceBlockBytes, PairSwappedPlacementIsTheSwappedFilesPairs)
{
    const Bytes block = bytes_of("ABCDEFG"); // odd length
    for (const std::size_t image_size : {7u, 8u, 9u, 10u, 13u, 14u}) {
        for (std::size_t offset = 0; offset + block.size() <= image_size; offset += 2) {
            Bytes normal(image_size, '.');
            for (std::size_t k = 0; k < image_size; ++k)
                normal[k] = static_cast<std::uint8_t>('a' + k);
            Bytes swapped = normal;
            swap_byte_pairs(swapped.data(), swapped.size());
            mio0::place_block_bytes(std::span(normal).subspan(offset), 0, block, false);
            mio0::place_block_bytes(std::span(swapped).subspan(offset), 0, block, true);
            swap_byte_pairs(swapped.data(), swapped.size());
            EXPECT_EQ(swapped, normal) << "image " << image_size << " offset " << offset;
        }
    }
    // The last byte of the input has no partner: it stays in place.
    EXPECT_EQ(mio0::stored_position(6, 7, true), 6u);
    EXPECT_EQ(mio0::stored_position(6, 8, true), 7u);
    EXPECT_EQ(mio0::stored_position(5, 7, true), 4u);
    EXPECT_EQ(mio0::stored_position(5, 7, false), 5u);
}

} // namespace
