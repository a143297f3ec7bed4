#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "block_scan.hpp"
#include "block_writer.hpp"
#include "byte_pairs.hpp"
#include "decode_helper.hpp"
#include "reference_decoder.hpp"
#include "test_files.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

std::vector<std::uint64_t> offsets_of(const std::vector<FoundBlock>& blocks)
{
    std::vector<std::uint64_t> offsets;
    for (const FoundBlock& block : blocks)
        offsets.push_back(block.offset);
    return offsets;
}

std::vector<FoundBlock> list_file(const Bytes& file, const ScanTuning& tuning)
{
    ScratchDir dir;
    const std::string path = dir.file("file");
    write_file(path, file);
    CollectedBlocks sink;
    EXPECT_EQ(scan_file(path.c_str(), sink, tuning), DecodeStatus::Ok);
    return sink.blocks;
}

// The listing's promise: an offset is listed exactly when decoding there
// succeeds, with the decoder's storage, size and extent; from memory and
// from a file read in small pieces alike.
void expect_agrees_with_decoder(const Bytes& file)
{
    std::vector<FoundBlock> decodable;
    for (std::uint64_t offset = 0; offset < file.size(); ++offset) {
        const Decoded d = decode_at(file, offset);
        ASSERT_EQ(d.status, reference_decode(file, offset).status) << "offset " << offset;
        if (d.status == DecodeStatus::Ok)
            decodable.push_back({offset, d.info.header.swapped, d.info.header.decompressed_size, d.info.stored_length()});
    }
    for (const ScanTuning& tuning : {ScanTuning{}, ScanTuning{64, 8}, ScanTuning{100, 1}}) {
        for (const auto& listed : {find_blocks(file, tuning), list_file(file, tuning)}) {
            ASSERT_EQ(offsets_of(listed), offsets_of(decodable));
            for (std::size_t k = 0; k < listed.size(); ++k) {
                EXPECT_EQ(listed[k].swapped, decodable[k].swapped);
                EXPECT_EQ(listed[k].decompressed_size, decodable[k].decompressed_size);
                EXPECT_EQ(listed[k].stored_length, decodable[k].stored_length);
            }
        }
    }
}

void append(Bytes& file, const Bytes& more) { file.insert(file.end(), more.begin(), more.end()); }

// 24 bytes: L and N even.
const TestBlock sample = [] {
    TestBlock block = make_block("11101", bytes_of("abcd"), {{5, 3}}, 9);
    block.layout.push_back(0x00);
    return block;
}();

TEST(FindBlocks, BlocksAtTheStartTheEndAndAdjacentInBothStorages)
{
    Bytes file = sample.bytes();
    append(file, sample.swapped_bytes()); // adjacent, second one pair-swapped
    append(file, bytes_of("xyz"));
    const std::uint64_t odd = file.size(); // an odd offset
    append(file, sample.bytes());
    append(file, bytes_of("q"));
    const std::uint64_t last = file.size();
    append(file, sample.swapped_bytes()); // ends at the file's last byte

    const std::vector<FoundBlock> blocks = find_blocks(file);
    ASSERT_EQ(offsets_of(blocks), (std::vector<std::uint64_t>{0, 24, odd, last}));
    EXPECT_FALSE(blocks[0].swapped);
    EXPECT_TRUE(blocks[1].swapped);
    for (const FoundBlock& block : blocks) {
        EXPECT_EQ(block.decompressed_size, 9u);
        EXPECT_EQ(block.stored_length, 24u);
    }
    expect_agrees_with_decoder(file);
}

TEST(FindBlocks, ABlockInsideAnotherBlocksLiteralsIsListedToo)
{
    const Bytes inner = sample.bytes();
    const TestBlock outer = make_block(std::string(inner.size(), '1'), inner, {},
                                       static_cast<std::uint32_t>(inner.size()));
    const Bytes file = outer.bytes();
    ASSERT_EQ(offsets_of(find_blocks(file)), (std::vector<std::uint64_t>{0, 16 + outer.layout.size()}));
    expect_agrees_with_decoder(file);
}

TEST(FindBlocks, NearMissesAreNotListed)
{
    Bytes file = bytes_of("MIO0"); // a magic alone
    append(file, bytes_of("..IM0O.."));
    append(file, make_block("0", {}, {{3, 1}}, 3).bytes()); // reference before the first byte
    TestBlock wrapped = sample;
    wrapped.pairs_offset = 15; // P below 16
    append(file, wrapped.bytes());
    append(file, bytes_of("mio0MIO1OIM0"));
    const Bytes cut = sample.bytes();
    append(file, Bytes(cut.begin(), cut.end() - 1)); // cut short by the end of the file
    expect_agrees_with_decoder(file);
    EXPECT_TRUE(find_blocks(file).empty());
}

// Layouts longer than the table's granules, at odd and even offsets, in
// both storages with odd P: the literal counts from the table, its granule
// ends and the partner of a pair-swapped last layout byte.
TEST(FindBlocks, LongLayoutsCountTheirLiteralsExactly)
{
    std::mt19937 random(5);
    for (int round = 0; round < 20; ++round) {
        Bytes file(200 + random() % 50, 'x');
        TestBlock block;
        block.layout.resize(30 + random() % 200);
        for (auto& b : block.layout)
            b = static_cast<std::uint8_t>(random() % 4 == 0 ? 0 : random() | 0x80);
        std::size_t ones = 0;
        for (const auto b : block.layout)
            ones += static_cast<std::size_t>(std::popcount(b));
        block.literals.resize(ones, 'L');
        block.pairs.assign(block.layout.size() * 8, mio0::pair_word(3, 1));
        block.decompressed_size = static_cast<std::uint32_t>(random() % 5000);
        const Bytes stored = random() % 2 ? block.bytes() : block.swapped_bytes();
        append(file, stored);
        append(file, Bytes(random() % 3, 'y'));
        expect_agrees_with_decoder(file);
    }
}

TEST(FindBlocks, AgreesWithTheDecoderOnRandomData)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 30; ++round) {
        Bytes file(3000);
        // Few distinct bytes, so that headers with small sizes and both
        // magics turn up often.
        const char alphabet[] = {'M', 'I', 'O', '0', 0, 0, 0, 16, 17, 18, 20, 24, 1, (char)0xFF, 2};
        for (auto& b : file)
            b = static_cast<std::uint8_t>(alphabet[random() % sizeof alphabet]);
        for (int k = 0; k < 30; ++k) {
            const std::size_t at = random() % (file.size() - 40);
            TestBlock block = make_block(random() % 2 ? "11101" : "1011", bytes_of("abcd"), {{5, 3}},
                                         static_cast<std::uint32_t>(random() % 12));
            const Bytes stored = random() % 2 ? block.bytes() : block.swapped_bytes();
            std::copy(stored.begin(), stored.end(), file.begin() + static_cast<long>(at));
        }
        expect_agrees_with_decoder(file);
    }
}

TEST(FormatRow, HeaderLineThenTabSeparatedColumns)
{
    EXPECT_EQ(listing_header() + format_row({0, false, 9, 22}) + format_row({4294967295u, true, 0, 16}),
              "offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n"
              "0\t0x00000000\tMIO0\t9\t22\n"
              "4294967295\t0xFFFFFFFF\tIM0O\t0\t16\n");
}

TEST(ListBlocks, CreatesTheDestinationOnlyWhenABlockIsFound)
{
    ScratchDir dir;
    const std::string none = dir.file("none");
    write_file(none, bytes_of("MIO0 and IM0O but no block"));
    const std::string out = dir.file("out");
    EXPECT_EQ(list_blocks(none.c_str(), out.c_str()), DecodeStatus::NoBlocks);
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(list_blocks(dir.file("missing").c_str(), out.c_str()), DecodeStatus::InputUnopenable);

    const std::string some = dir.file("some");
    Bytes file(100000, 'x');
    const Bytes block = sample.bytes();
    std::copy(block.begin(), block.end(), file.begin() + 70000);
    write_file(some, file);
    ASSERT_EQ(list_blocks(some.c_str(), out.c_str()), DecodeStatus::Ok);
    const Bytes text = read_file(out);
    EXPECT_EQ(std::string(text.begin(), text.end()), listing_header() + format_row({70000, false, 9, 24}));
    EXPECT_EQ(list_blocks(some.c_str(), "/dev/full"), DecodeStatus::WriteFailed);
}

} // namespace
