#include <gtest/gtest.h>

#include <vector>

#include "block_reader.hpp"
#include "block_writer.hpp"

namespace {

std::vector<std::uint8_t> header(const char* magic, std::uint32_t d, std::uint32_t p, std::uint32_t l)
{
    std::vector<std::uint8_t> h(16);
    std::copy(magic, magic + 4, h.begin());
    mio0::write_be32(h.data() + 4, d);
    mio0::write_be32(h.data() + 8, p);
    mio0::write_be32(h.data() + 12, l);
    return h;
}

DecodeStatus load(const std::vector<std::uint8_t>& file, DecoderState& state, std::uint64_t offset = 0)
{
    return load_block_from_memory(file, offset, state);
}

TEST(CheckHeader, RecognisesBothMagicsExactlyAndRefusesWrappingSizes)
{
    struct Case {
        std::vector<std::uint8_t> bytes;
        DecodeStatus status;
    };
    std::vector<std::uint8_t> swapped = header("MIO0", 1, 16, 16);
    swap_byte_pairs(swapped.data(), swapped.size());
    const Case cases[] = {
        {header("MIO0", 5, 16, 20), DecodeStatus::Ok},
        {swapped, DecodeStatus::Ok},
        {header("mio0", 5, 16, 20), DecodeStatus::NotMio0},
        {header("MIO1", 5, 16, 20), DecodeStatus::NotMio0},
        {header("OIM0", 5, 16, 20), DecodeStatus::NotMio0},
        {header("IM0o", 5, 16, 20), DecodeStatus::NotMio0},
        {header("MIO0", 5, 15, 20), DecodeStatus::OutOfMemory},         // P below 16
        {header("MIO0", 5, 0, 0), DecodeStatus::OutOfMemory},
        {header("MIO0", 5, 20, 19), DecodeStatus::OutOfMemory},         // L below P
        {header("MIO0", 5, 16 + (1u << 29), 16 + (1u << 29)), DecodeStatus::OutOfMemory}, // 8 x (P - 16) wraps
        {header("MIO0", 5, 0xFFFFFFFF, 0xFFFFFFFF), DecodeStatus::OutOfMemory},
        {header("MIO0", 5, 15 + (1u << 29), 0xFFFFFFFF), DecodeStatus::Ok}, // largest layout region
        {header("MIO0", 0xFFFFFFFF, 16, 16), DecodeStatus::Ok},
    };
    for (std::size_t n = 0; n < std::size(cases); ++n) {
        BlockHeader h;
        EXPECT_EQ(check_header(cases[n].bytes.data(), h), cases[n].status) << "case " << n;
    }
}

TEST(CheckHeader, ReadsNumbersBigEndianAfterPuttingASwappedHeaderBackInOrder)
{
    std::vector<std::uint8_t> bytes = header("MIO0", 0x01020304, 0x00000020, 0x00000A0B);
    swap_byte_pairs(bytes.data(), bytes.size());
    BlockHeader h;
    ASSERT_EQ(check_header(bytes.data(), h), DecodeStatus::Ok);
    EXPECT_TRUE(h.swapped);
    EXPECT_EQ(h.decompressed_size, 0x01020304u);
    EXPECT_EQ(h.pairs_offset, 0x20u);
    EXPECT_EQ(h.literals_offset, 0xA0Bu);
}

TEST(UnpackStreams, SplitsLayoutBitsMostSignificantFirstAndDecodesPairWords)
{
    const std::vector<std::uint8_t> body = {0xA5, 0x00, 0x00, 0xFF, 0xFF, 0x12, 0x34, 0x77};
    DecoderState state;
    state.layout_flags.resize(8);
    state.pair_lengths.resize(3);
    state.pair_distances.resize(3);
    // 1 layout byte, 3 pairs, and an odd last byte that belongs to no pair.
    EXPECT_EQ(unpack_streams(body.data(), 1, 8, state), 4u);
    EXPECT_EQ(state.layout_flags, (std::vector<std::uint8_t>{1, 0, 1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(state.pair_lengths, (std::vector<std::uint8_t>{3, 18, 4}));
    EXPECT_EQ(state.pair_distances, (std::vector<std::uint16_t>{1, 4096, 565}));
}

TEST(UnpackStreams, CountsOnesInPaddingBitsToo)
{
    const std::vector<std::uint8_t> body = {0xFF, 0x01};
    DecoderState state;
    state.layout_flags.resize(16);
    EXPECT_EQ(unpack_streams(body.data(), 2, 2, state), 9u);
}

TEST(LoadBlock, ReadsTheThreeRegionsAndSizes)
{
    TestBlock block = make_block("110", bytes_of("AB"), {{3, 2}}, 5);
    block.odd_pair_byte = true;
    DecoderState state;
    ASSERT_EQ(load(block.bytes(), state), DecodeStatus::Ok);
    EXPECT_FALSE(state.swapped);
    EXPECT_EQ(state.decompressed_size, 5u);
    EXPECT_EQ(state.flag_count, 8u);
    EXPECT_EQ(state.pair_count, 1u); // (L - P - 1) / 2: the odd byte is ignored
    EXPECT_EQ(state.literal_count, 2u);
    EXPECT_EQ(state.literals, bytes_of("AB"));
    EXPECT_EQ(state.pair_lengths, std::vector<std::uint8_t>{3});
    EXPECT_EQ(state.pair_distances, std::vector<std::uint16_t>{2});
}

TEST(LoadBlock, EmptyRegions)
{
    DecoderState state;
    // P = 16: no layout bits at all, and nothing read for literals.
    ASSERT_EQ(load(header("MIO0", 7, 16, 20), state), DecodeStatus::NotMio0); // pairs cut short
    ASSERT_EQ(load(header("MIO0", 7, 16, 16), state), DecodeStatus::Ok);
    EXPECT_EQ(state.flag_count, 0u);
    EXPECT_EQ(state.literal_count, 0u);
    EXPECT_EQ(state.pair_count, 0u);

    // P = L: no pairs.
    DecoderState no_pairs;
    ASSERT_EQ(load(make_block("11", bytes_of("xy"), {}, 2).bytes(), no_pairs), DecodeStatus::Ok);
    EXPECT_EQ(no_pairs.pair_count, 0u);
    EXPECT_EQ(no_pairs.literal_count, 2u);
}

TEST(LoadBlock, BothStoragesGiveTheSameArrays)
{
    // Even L (1 layout byte padded to 2, 2 pairs) and even N.
    TestBlock block = make_block("1100", bytes_of("ab"), {{3, 2}, {18, 1}}, 23);
    block.layout.push_back(0x00);
    DecoderState normal, swapped;
    ASSERT_EQ(load(block.bytes(), normal), DecodeStatus::Ok);
    ASSERT_EQ(load(block.swapped_bytes(), swapped), DecodeStatus::Ok);
    EXPECT_TRUE(swapped.swapped);
    EXPECT_EQ(swapped.decompressed_size, normal.decompressed_size);
    EXPECT_EQ(swapped.layout_flags, normal.layout_flags);
    EXPECT_EQ(swapped.pair_lengths, normal.pair_lengths);
    EXPECT_EQ(swapped.pair_distances, normal.pair_distances);
    EXPECT_EQ(swapped.literals, normal.literals);
}

TEST(LoadBlock, SwappedReadsAreEachPutBackFromTheirOwnFirstByte)
{
    // N odd: the last literal byte is left as stored. The stored block is
    // built so that its literal region, read from L, holds "bac".
    TestBlock block = make_block("111", bytes_of("bac"), {}, 3);
    block.layout.push_back(0x00);
    std::vector<std::uint8_t> stored = block.bytes();
    swap_byte_pairs(stored.data(), 18); // header and layout, as stored pair-swapped
    DecoderState state;
    ASSERT_EQ(load(stored, state), DecodeStatus::Ok);
    EXPECT_EQ(state.literals, bytes_of("abc"));
}

TEST(LoadBlock, FindsTheBlockAtAnOffsetOfALargerFile)
{
    std::vector<std::uint8_t> file = bytes_of("junk!");
    const std::vector<std::uint8_t> block = make_block("1", bytes_of("Q"), {}, 1).bytes();
    file.insert(file.end(), block.begin(), block.end());
    file.push_back('z');
    DecoderState state;
    ASSERT_EQ(load(file, state, 5), DecodeStatus::Ok);
    EXPECT_EQ(state.literals, bytes_of("Q"));
    EXPECT_EQ(load(file, state, 4), DecodeStatus::NotMio0);
    EXPECT_EQ(load(file, state, file.size()), DecodeStatus::NotMio0);
    EXPECT_EQ(load(file, state, file.size() + 100), DecodeStatus::NotMio0);
}

TEST(LoadBlock, EveryTruncationOfAValidBlockIsNotMio0)
{
    TestBlock block = make_block("1101", bytes_of("abc"), {{4, 2}}, 7);
    for (const auto& full : {block.bytes(), block.swapped_bytes()}) {
        DecoderState whole;
        ASSERT_EQ(load(full, whole), DecodeStatus::Ok);
        for (std::size_t length = 0; length < full.size(); ++length) {
            const std::vector<std::uint8_t> cut(full.begin(), full.begin() + static_cast<long>(length));
            DecoderState state;
            EXPECT_EQ(load(cut, state), DecodeStatus::NotMio0) << "length " << length;
        }
    }
}

TEST(LoadBlock, AHugeClaimInATinyFileFailsBeforeAllocating)
{
    std::vector<std::uint8_t> file = header("MIO0", 100, 16, 0xFFFFFFF0);
    file.resize(20);
    DecoderState state;
    EXPECT_EQ(load(file, state), DecodeStatus::NotMio0);
    EXPECT_TRUE(state.layout_flags.empty());

    // Layout bits claiming more literal bytes than the file holds.
    TestBlock ones;
    ones.layout.assign(4, 0xFF);
    ones.decompressed_size = 32;
    EXPECT_EQ(load(ones.bytes(), state), DecodeStatus::NotMio0);
}

TEST(LoadBlock, OutputRoomIsBoundedByWhatTheBlockCanProduce)
{
    DecoderState state;
    ASSERT_EQ(load(header("MIO0", 0xFFFFFFFF, 16, 16), state), DecodeStatus::Ok);
    EXPECT_EQ(state.output.size(), 0u);

    ASSERT_EQ(load(make_block("10", bytes_of("x"), {{18, 1}}, 0xFFFFFFFF).bytes(), state),
              DecodeStatus::Ok);
    EXPECT_EQ(state.output.size(), 1u + 18u * 1u);

    ASSERT_EQ(load(make_block("10", bytes_of("x"), {{18, 1}}, 5).bytes(), state), DecodeStatus::Ok);
    EXPECT_EQ(state.output.size(), 5u);
}

} // namespace
