#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "block_decoder.hpp"
#include "block_writer.hpp"
#include "byte_pairs.hpp"
#include "decode_helper.hpp"
#include "reference_decoder.hpp"
#include "test_files.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes header(std::uint32_t d, std::uint32_t p, std::uint32_t l)
{
    Bytes h(16);
    mio0::write_header(h.data(), {false, d, p, l});
    return h;
}

Bytes concat(std::initializer_list<Bytes> parts)
{
    Bytes out;
    for (const Bytes& part : parts)
        out.insert(out.end(), part.begin(), part.end());
    return out;
}

Bytes swapped_whole(Bytes file)
{
    swap_byte_pairs(file.data(), file.size());
    return file;
}

TEST(CheckBlock, NamesTheCauseOfEachRefusal)
{
    Bytes lower = make_block("1", bytes_of("a"), {}, 1).bytes();
    lower[0] = 'm';
    Bytes claim = header(100, 16, 0xFFFFFFF0);
    claim.resize(20);
    const Bytes bare = header(0, 16, 16);
    TestBlock ones; // layout bits claiming more literal bytes than the file holds
    ones.layout.assign(4, 0xFF);
    ones.decompressed_size = 32;
    struct Case {
        const char* name;
        Bytes file;
        DecodeStatus status;
    };
    const Case cases[] = {
        {"empty", {}, DecodeStatus::HeaderCutShort},
        {"15 bytes", Bytes(bare.begin(), bare.begin() + 15), DecodeStatus::HeaderCutShort},
        {"lower-case magic", lower, DecodeStatus::BadMagic},
        {"P below 16", header(5, 15, 20), DecodeStatus::SizesWrap},
        {"L below P", header(5, 20, 18), DecodeStatus::SizesWrap},
        {"layout of 2^29 bytes", header(5, 16 + (1u << 29), 16 + (1u << 29)), DecodeStatus::SizesWrap},
        {"pairs cut short", header(7, 16, 20), DecodeStatus::Truncated},
        {"huge claim in a tiny file", claim, DecodeStatus::Truncated},
        {"literals cut short", ones.bytes(), DecodeStatus::Truncated},
        {"reference before the start", make_block("10", bytes_of("a"), {{3, 2}}, 4).bytes(),
         DecodeStatus::ReferenceBeforeStart},
        {"bare header, huge D", header(0xFFFFFFFF, 16, 16), DecodeStatus::Ok},
    };
    for (const Case& c : cases) {
        BlockInfo info;
        EXPECT_EQ(check_block(c.file, 0, info), c.status) << c.name;
        EXPECT_EQ(decode_at(c.file, 0).status, c.status) << c.name;
        EXPECT_EQ(reference_decode(c.file, 0).status, c.status) << c.name;
    }
}

TEST(CheckBlock, EveryTruncationOfAValidBlockIsRefusedInBothStorages)
{
    const TestBlock block = make_block("1101", bytes_of("abc"), {{4, 2}}, 7);
    for (const Bytes& full : {block.bytes(), block.swapped_bytes()}) {
        ASSERT_EQ(decode_at(full, 0).status, DecodeStatus::Ok);
        for (std::size_t length = 0; length < full.size(); ++length) {
            const Bytes cut(full.begin(), full.begin() + static_cast<long>(length));
            EXPECT_EQ(decode_at(cut, 0).status, length < 16 ? DecodeStatus::HeaderCutShort : DecodeStatus::Truncated)
                << "length " << length;
        }
    }
}

TEST(CheckBlock, ReportsStorageSizesAndExtent)
{
    TestBlock block = make_block("110", bytes_of("AB"), {{3, 2}}, 5);
    block.odd_pair_byte = true; // L - P odd: the last byte belongs to no pair
    const Bytes file = concat({bytes_of("junk!"), block.bytes(), bytes_of("z")});
    BlockInfo info;
    ASSERT_EQ(check_block(file, 5, info), DecodeStatus::Ok);
    EXPECT_FALSE(info.header.swapped);
    EXPECT_EQ(info.header.decompressed_size, 5u);
    EXPECT_EQ(info.header.pair_count(), 1u);
    EXPECT_EQ(info.literal_count, 2u);
    EXPECT_EQ(info.stored_length(), block.bytes().size());
    EXPECT_EQ(check_block(file, 4, info), DecodeStatus::BadMagic);
    EXPECT_EQ(check_block(file, file.size() + 100, info), DecodeStatus::HeaderCutShort);
}

// Pair-swapped blocks are read as the pairs of the file they lie in. The
// faults these guard against: a literal lost or taken from the byte after
// the block when N is odd, literals out of order when L is odd, and a block
// at the end of a file whose last byte has no partner.
TEST(DecodeBlock, PairSwappedBlocksReadAsTheFilesPairs)
{
    TestBlock odd_l = make_block("1101", bytes_of("abc"), {{4, 2}}, 7);
    odd_l.odd_pair_byte = true;
    TestBlock even = make_block("1100", bytes_of("ab"), {{3, 2}, {18, 1}}, 23);
    even.layout.push_back(0);
    const TestBlock blocks[] = {
        make_block("1", bytes_of("a"), {}, 1),     // odd P and L, odd N
        make_block("111", bytes_of("abc"), {}, 3), // odd N
        odd_l,                                     // even P, odd L, odd length
        even,                                      // all even
    };
    for (const TestBlock& block : blocks) {
        const Bytes normal = block.bytes();
        const Bytes expected = reference_decode(normal, 0).produced;
        ASSERT_EQ(decode_at(normal, 0).produced, expected);
        struct Image {
            const char* name;
            Bytes file;
            std::uint64_t offset;
        };
        const Image images[] = {
            {"followed by bytes", swapped_whole(concat({normal, bytes_of("ZZZZ")})), 0},
            {"followed by one byte", swapped_whole(concat({normal, bytes_of("Z")})), 0},
            {"at an even offset", swapped_whole(concat({bytes_of("0123456789"), normal, bytes_of("ZZZ")})), 10},
            {"at the end of the file", swapped_whole(concat({bytes_of("01234567"), normal})), 8},
            {"swapped as a file of its own", block.swapped_bytes(), 0},
        };
        for (const Image& image : images) {
            const Decoded d = decode_at(image.file, image.offset);
            ASSERT_EQ(d.status, DecodeStatus::Ok) << image.name;
            EXPECT_TRUE(d.info.header.swapped) << image.name;
            EXPECT_EQ(d.produced, expected) << image.name << " " << normal.size();
            EXPECT_EQ(d.info.stored_length(), normal.size()) << image.name;
        }
    }
}

// The fast decoder against the reference on random blocks and on random
// bytes with block headers, in both storages, streams read in small pieces.
TEST(DecodeBlock, AgreesWithTheReferenceInSmallPieces)
{
    std::mt19937 random(2024);
    int decoded = 0;
    for (int round = 0; round < 400; ++round) {
        auto noise = [&](std::size_t n) {
            Bytes out(n);
            for (auto& b : out)
                b = static_cast<std::uint8_t>(random() % 4 == 0 ? random() : random() % 3);
            return out;
        };
        TestBlock block;
        block.decompressed_size = static_cast<std::uint32_t>(random() % 2000);
        block.layout = noise(random() % 40);
        for (auto& b : block.layout) // mostly literals first, so that pairs have bytes to reach
            b = static_cast<std::uint8_t>(random() % 3 ? b | 0xF7 : b);
        if (!block.layout.empty())
            block.layout[0] = 0xFF;
        block.pairs.resize(random() % 40);
        for (auto& w : block.pairs)
            w = static_cast<std::uint16_t>(random() % 8 == 0 ? random() : (random() & 0xF000) | random() % 8);
        std::size_t ones = 0;
        for (const auto b : block.layout)
            ones += static_cast<std::size_t>(std::popcount(b));
        block.literals = noise(ones + random() % 3);
        block.odd_pair_byte = random() % 2;
        const Bytes stored = random() % 2 ? block.bytes() : block.swapped_bytes();
        const Bytes head = noise(random() % 5);
        // Cut short, or followed by a few bytes.
        const Bytes file = random() % 4 == 0 ? concat({head, Bytes(stored.begin(), stored.end() - 1 - random() % 4)})
                                             : concat({head, stored, noise(random() % 3)});
        const std::uint64_t offset = head.size();
        const ReferenceResult ref = reference_decode(file, offset);
        const DecodeTuning small{64 + random() % 40, 1 + random() % 100};
        for (const DecodeTuning& tuning : {DecodeTuning{}, small}) {
            const Decoded d = decode_at(file, offset, tuning);
            ASSERT_EQ(d.status, ref.status) << "round " << round;
            ASSERT_EQ(d.produced, ref.produced) << "round " << round;
            if (d.status == DecodeStatus::Ok) {
                EXPECT_EQ(d.info.stored_length(), ref.stored_length);
            }
        }
        decoded += ref.status == DecodeStatus::Ok ? 1 : 0;
    }
    EXPECT_GT(decoded, 100); // the cases are not all refusals
}

TEST(DecodeFile, WritesExactlyDBytesZeroFilledAndReplacesAnExistingFile)
{
    ScratchDir dir;
    const std::string input = dir.file("in");
    const std::string path = dir.file("out");
    write_file(path, Bytes(3000000, 0x55));
    const std::uint32_t size = (1u << 20) + 5;
    write_file(input, make_block("10", bytes_of("z"), {{3, 1}}, size).bytes());
    ASSERT_EQ(decode_file(input.c_str(), 0, path.c_str()), DecodeStatus::Ok);
    Bytes expected(size, 0);
    std::fill_n(expected.begin(), 4, 'z');
    EXPECT_EQ(read_file(path), expected);
}

TEST(DecodeFile, LargeBlocksInBothStoragesAndSmallPieces)
{
    std::mt19937 random(3);
    Bytes plain;
    while (plain.size() < 300000) { // runs, repeats at every distance, noise
        const auto kind = static_cast<unsigned>(random() % 3);
        const std::size_t n = 1 + random() % 500;
        for (std::size_t k = 0; k < n; ++k)
            plain.push_back(kind == 0 ? 'r' : kind == 1 && plain.size() > 4096 ? plain[plain.size() - 1 - random() % 4096]
                                                                               : static_cast<std::uint8_t>(random()));
    }
    // Hand-built: one literal per new byte, a pair where the byte repeats.
    std::string flags;
    Bytes literals;
    std::vector<TestPair> pairs;
    for (std::size_t i = 0; i < plain.size();) {
        if (i >= 3 && i + 3 <= plain.size() && plain[i] == plain[i - 3] && plain[i + 1] == plain[i - 2] &&
            plain[i + 2] == plain[i - 1]) {
            flags += '0';
            pairs.push_back({3, 3});
            i += 3;
        } else {
            flags += '1';
            literals.push_back(plain[i++]);
        }
    }
    const TestBlock block = make_block(flags, literals, pairs, static_cast<std::uint32_t>(plain.size()));
    ScratchDir dir;
    for (const bool swapped : {false, true}) {
        const std::string input = dir.file(swapped ? "swapped" : "normal");
        const Bytes file = concat({bytes_of("xx"), block.bytes(), bytes_of("y")});
        write_file(input, swapped ? swapped_whole(file) : file);
        for (const DecodeTuning& tuning : {DecodeTuning{}, DecodeTuning{100, 777}}) {
            const std::string out = dir.file("out");
            ASSERT_EQ(decode_file(input.c_str(), 2, out.c_str(), tuning), DecodeStatus::Ok);
            EXPECT_EQ(read_file(out), plain) << swapped;
        }
    }
}

TEST(DecodeFile, FailuresLeaveNoFileAndARefusedBlockTouchesNone)
{
    ScratchDir dir;
    const std::string input = dir.file("in");
    write_file(input, make_block("1", bytes_of("z"), {}, 1).bytes());
    const std::string missing_dir = dir.file("no/such/dir");
    EXPECT_EQ(decode_file(input.c_str(), 0, missing_dir.c_str()), DecodeStatus::WriteFailed);
    EXPECT_FALSE(std::filesystem::exists(missing_dir));
#if !defined(_WIN32)
    // A device that refuses every write is reported, and never removed.
    EXPECT_EQ(decode_file(input.c_str(), 0, "/dev/full"), DecodeStatus::WriteFailed);
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
#endif
    EXPECT_EQ(decode_file(dir.file("missing").c_str(), 0, dir.file("out").c_str()), DecodeStatus::InputUnopenable);

    const std::string bad = dir.file("bad");
    write_file(bad, make_block("10", bytes_of("a"), {{3, 2}}, 4).bytes());
    const std::string kept = dir.file("kept");
    write_file(kept, bytes_of("keep me"));
    EXPECT_EQ(decode_file(bad.c_str(), 0, kept.c_str()), DecodeStatus::ReferenceBeforeStart);
    EXPECT_EQ(read_file(kept), bytes_of("keep me"));
}

TEST(DecodeFile, ADestinationThatNamesTheInputIsReplacedByTheBlock)
{
    ScratchDir dir;
    const std::string path = dir.file("self");
    write_file(path, concat({bytes_of("abc"), make_block("10", bytes_of("q"), {{18, 1}}, 19).bytes(), Bytes(70000, 7)}));
    ASSERT_EQ(decode_file(path.c_str(), 3, path.c_str()), DecodeStatus::Ok);
    EXPECT_EQ(read_file(path), Bytes(19, 'q'));
}

TEST(CheckBlockInFile, TellsStorageSizeAndExtentOfABlockAtAnOffset)
{
    ScratchDir dir;
    const std::string path = dir.file("image");
    const TestBlock block = make_block("111", bytes_of("abc"), {}, 3);
    write_file(path, swapped_whole(concat({bytes_of("ab"), block.bytes(), bytes_of("z")})));
    BlockInfo info;
    ASSERT_EQ(check_block_in_file(path.c_str(), 2, info), DecodeStatus::Ok);
    EXPECT_TRUE(info.header.swapped);
    EXPECT_EQ(info.header.decompressed_size, 3u);
    EXPECT_EQ(info.stored_length(), block.bytes().size());
    EXPECT_EQ(check_block_in_file(path.c_str(), 1, info), DecodeStatus::BadMagic);
    EXPECT_EQ(check_block_in_file(dir.file("none").c_str(), 0, info), DecodeStatus::InputUnopenable);
}

} // namespace
