#include <gtest/gtest.h>

#include <random>
#include <set>

#include "block_scan.hpp"
#include "block_writer.hpp"
#include "decompress.hpp"
#include "test_files.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool decodes_at(const Bytes& file, std::uint64_t offset)
{
    DecoderState state;
    return load_block_from_memory(file, offset, state) == DecodeStatus::Ok &&
           decode_block(state).status == DecodeStatus::Ok;
}

std::vector<std::uint64_t> offsets_of(const std::vector<FoundBlock>& blocks)
{
    std::vector<std::uint64_t> offsets;
    for (const FoundBlock& block : blocks)
        offsets.push_back(block.offset);
    return offsets;
}

// The listing's promise: an offset is listed exactly when decoding there
// succeeds.
void expect_agrees_with_decoder(const Bytes& file)
{
    std::vector<std::uint64_t> decodable;
    for (std::uint64_t offset = 0; offset < file.size(); ++offset) {
        FoundBlock found;
        const bool listed = check_block(file, offset, found) == DecodeStatus::Ok;
        const bool decodes = decodes_at(file, offset);
        ASSERT_EQ(listed, decodes) << "offset " << offset;
        if (decodes)
            decodable.push_back(offset);
    }
    EXPECT_EQ(offsets_of(find_blocks(file)), decodable);
}

void append(Bytes& file, const Bytes& more) { file.insert(file.end(), more.begin(), more.end()); }

// 24 bytes: L and N even, so the pair-swapped copy decodes to the same bytes.
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
    EXPECT_FALSE(blocks[2].swapped);
    EXPECT_TRUE(blocks[3].swapped);
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
    const std::vector<FoundBlock> blocks = find_blocks(file);
    ASSERT_EQ(offsets_of(blocks), (std::vector<std::uint64_t>{0, 16 + outer.layout.size()}));
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
    const Bytes cut = sample.swapped_bytes();
    append(file, Bytes(cut.begin(), cut.end() - 1)); // a swapped block cut short by the end of the file

    expect_agrees_with_decoder(file);
    for (const FoundBlock& block : find_blocks(file))
        EXPECT_NE(block.offset + block.stored_length, file.size());
}

TEST(FindBlocks, AgreesWithTheDecoderOnRandomData)
{
    std::mt19937 random(12345);
    for (int round = 0; round < 40; ++round) {
        Bytes file(3000);
        // Few distinct bytes, so that headers with small sizes and both
        // magics turn up often.
        const char alphabet[] = {'M', 'I', 'O', '0', 0, 0, 0, 16, 18, 20, 24, 1, (char)0xFF, 2};
        for (auto& b : file)
            b = static_cast<std::uint8_t>(alphabet[random() % sizeof alphabet]);
        for (int k = 0; k < 30; ++k) {
            const std::size_t at = random() % (file.size() - 40);
            TestBlock block = make_block(random() % 2 ? "11101" : "1011", bytes_of("abcd"),
                                         {{5, 3}}, static_cast<std::uint32_t>(random() % 12));
            const Bytes stored = random() % 2 ? block.bytes() : block.swapped_bytes();
            std::copy(stored.begin(), stored.end(), file.begin() + static_cast<long>(at));
        }
        expect_agrees_with_decoder(file);
    }
}

TEST(FindBlocks, PurelyRandomDataUsuallyHoldsNoBlock)
{
    std::mt19937 random(99);
    Bytes file(1 << 20);
    for (auto& b : file)
        b = static_cast<std::uint8_t>(random());
    for (const FoundBlock& block : find_blocks(file))
        EXPECT_TRUE(decodes_at(file, block.offset));
}

TEST(FormatListing, HeaderLineThenTabSeparatedColumns)
{
    const std::vector<FoundBlock> blocks = {{0, false, 9, 22}, {4294967295u, true, 0, 16}};
    EXPECT_EQ(format_listing(blocks),
              "offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n"
              "0\t0x00000000\tMIO0\t9\t22\n"
              "4294967295\t0xFFFFFFFF\tIM0O\t0\t16\n");
}

} // namespace

namespace {

// The listing of a file on disk is read in 64 KiB pieces: blocks whose
// magic, header or body crosses a piece boundary are found all the same.
TEST(ListBlocks, ReadsTheFileInPiecesAndFindsWhatFindBlocksFinds)
{
    const Bytes block = sample.bytes();
    const Bytes swapped = sample.swapped_bytes();
    Bytes file(4 * 65536 + 500, 'x');
    const std::size_t offsets[] = {0, 65536 - 2, 2 * 65536 - 10, 2 * 65536 + 30, 3 * 65536 - 20,
                                   file.size() - block.size()};
    for (std::size_t k = 0; k < std::size(offsets); ++k) {
        const Bytes& stored = k % 2 ? swapped : block;
        std::copy(stored.begin(), stored.end(), file.begin() + static_cast<long>(offsets[k]));
    }
    // A bogus header across a boundary whose claimed body runs past the end.
    const Bytes bogus = {'M', 'I', 'O', '0', 0, 0, 0, 9, 0, 0, 0, 20, 0x7F, 0, 0, 0};
    std::copy(bogus.begin(), bogus.end(), file.begin() + 4 * 65536 - 7);

    // A block whose header claims a pairs region of 120000 bytes that its
    // flags never reach: one literal, D = 1.
    const std::size_t vast = 2 * 65536 + 100;
    TestBlock claim = make_block("1", {}, {}, 1);
    claim.literals_offset = 17 + 120000;
    const Bytes claim_bytes = claim.bytes();
    std::copy(claim_bytes.begin(), claim_bytes.begin() + 17, file.begin() + static_cast<long>(vast));

    ScratchDir dir;
    const std::string path = dir.file("blocks");
    write_file(path, file);
    std::vector<FoundBlock> listed;
    ASSERT_EQ(list_blocks(path.c_str(), listed), DecodeStatus::Ok);
    std::vector<std::uint64_t> expected_offsets(std::begin(offsets), std::end(offsets));
    expected_offsets.insert(expected_offsets.begin() + 4, vast);
    EXPECT_EQ(offsets_of(listed), expected_offsets);
    EXPECT_EQ(offsets_of(listed), offsets_of(find_blocks(file)));
    const std::vector<FoundBlock> expected = find_blocks(file);
    for (std::size_t k = 0; k < listed.size() && k < expected.size(); ++k) {
        EXPECT_EQ(listed[k].swapped, expected[k].swapped);
        EXPECT_EQ(listed[k].stored_length, expected[k].stored_length);
    }

    std::vector<FoundBlock> none;
    EXPECT_EQ(list_blocks(dir.file("missing").c_str(), none), DecodeStatus::OpenFailed);
}

} // namespace
