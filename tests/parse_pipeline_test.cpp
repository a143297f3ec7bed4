#include <gtest/gtest.h>

#include <algorithm>

#include "block_builder.hpp"
#include "encoder.hpp"
#include "encoder_inputs.hpp"
#include "mio0_format.hpp"
#include "parse_pipeline.hpp"
#include "path_settler.hpp"

namespace {

struct Parsed {
    Bytes block;
    ParseReport report;
};

// encode_block, with the report of the parse kept.
Parsed parse(const Bytes& input, const ParseTuning& tuning)
{
    ByteBuffer block;
    BlockBuilder builder(block, input.size());
    EXPECT_EQ(builder.start(), EncodeStatus::Ok);
    PathSettler path(input, builder.tokens(), tuning.settle_span);
    const ParseReport report = parse_shortest_path(input, tuning, path);
    EXPECT_EQ(builder.finish(), EncodeStatus::Ok);
    return {Bytes(block.data(), block.data() + block.size()), report};
}

Bytes one_pass_block(const Bytes& input)
{
    ParseTuning one_pass;
    one_pass.chunk_size = 0;
    const Parsed parsed = parse(input, one_pass);
    EXPECT_EQ(parsed.report.chunks, 0u);
    return parsed.block;
}

// On ordinary data a guess started 4096 positions before its chunk has
// forgotten where it started by then: no chunk is stepped twice, and the
// pipeline costs no more than one pass on this thread.
TEST(ParsePipeline, DefaultLeadRestepsNoChunkOfOrdinaryData)
{
    for (const Bytes& input : {text_like(std::size_t{1} << 20, 1), text_like(std::size_t{1} << 20, 2),
                               random_bytes(std::size_t{1} << 20, 256, 3)}) {
        ParseTuning tuning;
        tuning.chunk_size = 1 << 16;
        const Parsed parsed = parse(input, tuning);
        EXPECT_EQ(parsed.report.chunks, (input.size() + tuning.chunk_size - 1) / tuning.chunk_size);
        EXPECT_EQ(parsed.report.restepped, 0u) << "size " << input.size();
        EXPECT_EQ(parsed.block, one_pass_block(input));
    }
}

// Guesses started close to their chunk are often wrong and the chunk is
// stepped again from the true window; whether a guess is taken or not,
// the block is the one of a single pass.
TEST(ParsePipeline, MissedGuessesAreSteppedAgainToTheBlockOfOnePass)
{
    for (const Bytes& input : {mixed_repeats(400000, 7), runs(100000, 10, 3000), random_bytes(100000, 2, 11)}) {
        const Bytes expected = one_pass_block(input);
        for (const std::size_t chunk_size : {4096u, 5000u, 65536u})
            for (const std::size_t lead : {0u, 18u, 100u, 4096u}) {
                ParseTuning tuning;
                tuning.chunk_size = chunk_size;
                tuning.guess_lead = lead;
                tuning.settle_span = 1000;
                const Parsed parsed = parse(input, tuning);
                // Inputs of fewer than two chunks are parsed in one pass.
                const std::size_t chunks =
                    input.size() / chunk_size >= 2 ? (input.size() + chunk_size - 1) / chunk_size : 0;
                EXPECT_EQ(parsed.report.chunks, chunks);
                if (lead == 0 && chunks != 0) { // the true window into a chunk reaches past its start
                    EXPECT_GT(parsed.report.restepped, chunks / 2);
                }
                EXPECT_EQ(parsed.block, expected)
                    << "size " << input.size() << ", chunks of " << chunk_size << ", lead " << lead;
            }
    }
}

} // namespace

namespace {

// A chunk's first position can match the bytes 4096 before it, the oldest
// its thread takes in first. Noise, with 18 bytes at each chunk start that
// repeat those 4096 before: the pair there saves 9 bits over any other way
// through them, and only a window of the full 4096 positions finds it.
TEST(ParsePipeline, FindsMatchesAtTheWholeWindowBeforeEveryChunk)
{
    constexpr std::size_t chunk_size = 8192;
    Bytes input = random_bytes(6 * chunk_size + 100, 256, 21);
    for (std::size_t start = chunk_size; start < input.size(); start += chunk_size)
        std::copy_n(input.begin() + static_cast<long>(start - mio0::max_distance), mio0::max_match,
                    input.begin() + static_cast<long>(start));
    const Bytes expected = one_pass_block(input);
    ParseTuning tuning;
    tuning.chunk_size = chunk_size;
    const Parsed parsed = parse(input, tuning);
    EXPECT_EQ(parsed.report.chunks, 7u);
    EXPECT_EQ(parsed.block, expected);
}

} // namespace

namespace {

// Chunk sizes are taken within 256 bytes and 2 MiB. Below, every chunk
// would cost its thread 4096 positions of lead-in and a cleared finder for
// fewer positions of its own (one byte a chunk made the parse 600 times
// slower); above, the four chunk buffers would grow to 8 bytes an input
// byte. The block is the same either way.
TEST(ParsePipeline, ChunkSizesOutOfRangeAreTakenAsTheNearestBound)
{
    const Bytes small = mixed_repeats(20000, 9);
    const Bytes small_block = one_pass_block(small);
    for (const std::size_t chunk_size : {1u, 2u, 17u, 18u, 255u}) {
        ParseTuning tuning;
        tuning.chunk_size = chunk_size;
        const Parsed parsed = parse(small, tuning);
        EXPECT_EQ(parsed.report.chunks, (small.size() + 255) / 256) << "chunks of " << chunk_size;
        EXPECT_EQ(parsed.block, small_block) << "chunks of " << chunk_size;
    }
    const Bytes large = text_like((std::size_t{5} << 20) + 7, 5);
    ParseTuning halves;
    halves.chunk_size = large.size() / 2;
    const Parsed parsed = parse(large, halves);
    EXPECT_EQ(parsed.report.chunks, 3u); // 2 MiB, 2 MiB and the rest
    EXPECT_EQ(parsed.block, one_pass_block(large));
}

} // namespace
