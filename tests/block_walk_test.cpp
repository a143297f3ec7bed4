#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "block_walk.hpp"
#include "block_writer.hpp"
#include "reference_decoder.hpp"

namespace {

using Bytes = std::vector<std::uint8_t>;

class VectorTarget final : public mio0::OutputTarget {
public:
    bool take(const std::uint8_t* bytes, std::size_t length) override
    {
        out.insert(out.end(), bytes, bytes + length);
        return true;
    }
    Bytes out;
};

struct Walked {
    mio0::WalkEnd end;
    std::uint32_t produced;
    Bytes bytes; // copying sink only
};

// Walks the block at the start of `stored` with either sink, streams read in
// pieces of `piece` bytes and the output passed on in pieces of `out_piece`.
Walked walk(const Bytes& stored, bool copy, std::size_t piece = 64, std::size_t out_piece = 1)
{
    mio0::BlockHeader h;
    EXPECT_EQ(mio0::parse_header(stored.data(), h), mio0::HeaderStatus::Ok);
    mio0::MemoryInput input(stored);
    std::uint64_t ones = 0;
    EXPECT_TRUE(input.count_ones(16, h.pairs_offset, h.swapped, ones));
    mio0::PieceStream layout, pairs, literals;
    EXPECT_TRUE(layout.reset(input, h.swapped, 16, h.layout_length(), piece));
    EXPECT_TRUE(pairs.reset(input, h.swapped, h.pairs_offset, 2 * std::uint64_t{h.pair_count()}, piece));
    EXPECT_TRUE(literals.reset(input, h.swapped, h.literals_offset, ones, piece));
    Walked w{};
    if (copy) {
        VectorTarget target;
        mio0::CopySink sink(literals, target);
        EXPECT_TRUE(sink.reset(out_piece));
        w.end = mio0::walk_block(layout, pairs, h.pair_count(), h.decompressed_size, sink, w.produced);
        EXPECT_TRUE(sink.finish());
        w.bytes = target.out;
        EXPECT_EQ(w.bytes.size(), w.produced);
    } else {
        mio0::CountSink sink;
        w.end = mio0::walk_block(layout, pairs, h.pair_count(), h.decompressed_size, sink, w.produced);
    }
    return w;
}

TestBlock longest_distance()
{
    TestBlock b;
    b.decompressed_size = 4096 + 18;
    b.layout.assign(512, 0xFF);
    b.layout.push_back(0x00);
    b.literals.resize(4096);
    for (std::size_t i = 0; i < 4096; ++i)
        b.literals[i] = static_cast<std::uint8_t>(i * 7);
    b.pairs.push_back(mio0::pair_word(18, 4096));
    return b;
}

TEST(WalkBlock, TokensEndsAndReferencesWithBothSinks)
{
    using mio0::WalkEnd;
    struct Case {
        const char* name;
        TestBlock block;
        WalkEnd end;
        Bytes expected; // for Done
    };
    const Case cases[] = {
        {"pair after two literals", make_block("110", bytes_of("AB"), {{3, 2}}, 5), WalkEnd::Done, bytes_of("ABABA")},
        {"distance 1 repeats the last byte", make_block("10", {0x78}, {{18, 1}}, 19), WalkEnd::Done, Bytes(19, 0x78)},
        {"copy stops at D", make_block("110", bytes_of("AB"), {{3, 2}}, 4), WalkEnd::Done, bytes_of("ABAB")},
        {"ends at D before later flags", make_block("1011", bytes_of("xyz"), {{18, 1}}, 3), WalkEnd::Done,
         bytes_of("xxx")},
        {"D = 0 produces nothing", make_block("11", bytes_of("ab"), {}, 0), WalkEnd::Done, {}},
        {"a 0 flag with no pair left ends", make_block("101", bytes_of("ab"), {}, 5), WalkEnd::Done, bytes_of("a")},
        {"flags run out before D", make_block("11", bytes_of("ab"), {}, 6), WalkEnd::Done, bytes_of("ab")},
        {"distance equal to the bytes produced", make_block("1110", bytes_of("abc"), {{3, 3}}, 6), WalkEnd::Done,
         bytes_of("abcabc")},
        {"a bad pair never reached", make_block("10", bytes_of("a"), {{3, 9}}, 1), WalkEnd::Done, bytes_of("a")},
        {"reference before the start", make_block("0", {}, {{3, 1}}, 3), WalkEnd::BadReference, {}},
        {"one byte too far", make_block("10", bytes_of("a"), {{3, 2}}, 4), WalkEnd::BadReference, {}},
        {"a later pair too far", make_block("1100", bytes_of("ab"), {{3, 1}, {5, 4096}}, 20), WalkEnd::BadReference,
         {}},
        {"longest distance", longest_distance(), WalkEnd::Done, {}},
    };
    for (const Case& c : cases) {
        for (const Bytes& stored : {c.block.bytes(), c.block.swapped_bytes()}) {
            const Walked copied = walk(stored, true);
            const Walked counted = walk(stored, false);
            EXPECT_EQ(copied.end, c.end) << c.name;
            EXPECT_EQ(counted.end, c.end) << c.name;
            EXPECT_EQ(counted.produced, copied.produced) << c.name;
            const ReferenceResult ref = reference_decode(stored, 0);
            if (c.end == WalkEnd::Done) {
                EXPECT_EQ(copied.bytes, ref.produced) << c.name;
                if (!c.expected.empty() || c.block.decompressed_size == 0) {
                    EXPECT_EQ(copied.bytes, c.expected) << c.name;
                }
            } else {
                EXPECT_EQ(ref.status, DecodeStatus::ReferenceBeforeStart) << c.name;
            }
        }
    }
}

// Long literal runs across 64-bit words and pieces, every distance class
// of the wide copies (below 8, 8 to 15, 16 and more) and every length, and
// partial last layout words: the copying walk against the reference, in
// pieces from the smallest up.
TEST(WalkBlock, WideCopiesAndPieceBoundariesAgreeWithTheReference)
{
    std::mt19937 random(7);
    auto next = [&](std::uint32_t n) { return static_cast<std::uint32_t>(random() % n); };
    for (int round = 0; round < 300; ++round) {
        std::string flags;
        Bytes literals;
        std::vector<TestPair> pairs;
        std::uint32_t produced = 0;
        const int tokens = 1 + static_cast<int>(random() % 200);
        for (int t = 0; t < tokens; ++t) {
            if (produced == 0 || random() % 3 == 0) {
                const unsigned run = 1 + next(next(4) == 0 ? 150 : 5);
                for (unsigned k = 0; k < run; ++k) {
                    flags += '1';
                    literals.push_back(static_cast<std::uint8_t>(random()));
                }
                produced += run;
            } else {
                const unsigned length = 3 + next(16);
                const unsigned distance = 1 + next(std::min<std::uint32_t>(produced, next(2) ? 20 : 4096));
                flags += '0';
                pairs.push_back({length, distance});
                produced += length;
            }
        }
        const std::uint32_t d = next(4) == 0 ? produced - next(std::max<std::uint32_t>(produced, 1)) : produced;
        TestBlock block = make_block(flags, literals, pairs, d);
        block.layout.resize(block.layout.size() + next(3)); // layouts of any length
        for (const Bytes& stored : {block.bytes(), block.swapped_bytes()}) {
            const ReferenceResult ref = reference_decode(stored, 0);
            ASSERT_EQ(ref.status, DecodeStatus::Ok);
            for (const std::size_t piece : {64u, 65u, 100u, 4096u}) {
                const Walked w = walk(stored, true, piece, 1 + next(300));
                ASSERT_EQ(w.end, mio0::WalkEnd::Done) << "round " << round;
                ASSERT_EQ(w.bytes, ref.produced) << "round " << round << " piece " << piece;
                EXPECT_EQ(walk(stored, false, piece).produced, w.produced);
            }
        }
    }
}

} // namespace
