// The hot loops of the stages in isolation, on data made here: the byte-pair
// swap, the block decoder, the encoder and the block finder. Whole-process
// comparisons with peer tools are the shell scripts beside this file.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <random>
#include <span>
#include <vector>

#include "block_decoder.hpp"
#include "block_scan.hpp"
#include "byte_pairs.hpp"
#include "encoder.hpp"

namespace {

// Text-like bytes: words from a small vocabulary, so that matches of every
// length and distance occur.
std::vector<std::uint8_t> sample_data(std::size_t size)
{
    static const char* const words[] = {"block ", "pair ", "literal ", "offset ", "the ", "of ",
                                        "layout ", "bits ", "swap ", "MIO ", "data\n", "zero "};
    std::mt19937 random(5);
    std::vector<std::uint8_t> out;
    while (out.size() < size) {
        const char* word = words[random() % std::size(words)];
        while (*word != 0 && out.size() < size)
            out.push_back(static_cast<std::uint8_t>(*word++));
    }
    return out;
}

void BM_SwapBytePairs(benchmark::State& state)
{
    std::vector<std::uint8_t> data = sample_data(static_cast<std::size_t>(state.range(0)));
    const std::vector<std::uint8_t> original = data;
    swap_byte_pairs(data.data(), data.size());
    for (std::size_t i = 0; i + 1 < data.size(); i += 2)
        if (data[i] != original[i + 1] || data[i + 1] != original[i]) {
            state.SkipWithError("the pairs are not exchanged");
            return;
        }
    for (auto _ : state) {
        swap_byte_pairs(data.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SwapBytePairs)->Arg(1 << 16)->Arg(1 << 24);

// Whether `block` decodes to exactly `expected`.
bool decodes_to(std::span<const std::uint8_t> block, const std::vector<std::uint8_t>& expected)
{
    ByteBuffer output;
    BlockInfo info;
    return decode_block(block, 0, output, info) == DecodeStatus::Ok && output.size() == expected.size() &&
           std::equal(expected.begin(), expected.end(), output.data());
}

void BM_DecodeBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> input = sample_data(std::size_t{4} << 20);
    ByteBuffer block;
    if (encode_block(input, block) != EncodeStatus::Ok || !decodes_to({block.data(), block.size()}, input)) {
        state.SkipWithError("the block does not round-trip");
        return;
    }
    for (auto _ : state) {
        ByteBuffer output;
        BlockInfo info;
        if (decode_block({block.data(), block.size()}, 0, output, info) != DecodeStatus::Ok ||
            output.size() != input.size()) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(output.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * input.size()));
}
BENCHMARK(BM_DecodeBlock)->Unit(benchmark::kMillisecond);

// The block is checked to decode to the input once, outside the timing;
// every timed run must then give a block of the same size.
void BM_EncodeBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> input = sample_data(static_cast<std::size_t>(state.range(0)));
    ByteBuffer first;
    if (encode_block(input, first) != EncodeStatus::Ok || !decodes_to({first.data(), first.size()}, input)) {
        state.SkipWithError("the block does not round-trip");
        return;
    }
    for (auto _ : state) {
        ByteBuffer block;
        if (encode_block(input, block) != EncodeStatus::Ok || block.size() != first.size()) {
            state.SkipWithError("encode failed or changed its output");
            break;
        }
        benchmark::DoNotOptimize(block.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EncodeBlock)->Arg(1 << 20)->Arg(std::int64_t{8} << 20)->Unit(benchmark::kMillisecond);

// Text with two encoded blocks in it, one pair-swapped, at odd places: the
// finder must report exactly those.
void BM_FindBlocks(benchmark::State& state)
{
    std::vector<std::uint8_t> file = sample_data(std::size_t{16} << 20);
    ByteBuffer block;
    if (encode_block(sample_data(std::size_t{1} << 16), block) != EncodeStatus::Ok) {
        state.SkipWithError("encode failed");
        return;
    }
    const std::size_t at[2] = {(std::size_t{5} << 20) + 1, (std::size_t{11} << 20) + 3};
    std::copy(block.data(), block.data() + block.size(), file.begin() + static_cast<long>(at[0]));
    swap_byte_pairs(block.data(), block.size());
    std::copy(block.data(), block.data() + block.size(), file.begin() + static_cast<long>(at[1]));
    for (auto _ : state) {
        const std::vector<FoundBlock> found = find_blocks(file);
        if (found.size() != 2 || found[0].offset != at[0] || found[0].swapped || found[1].offset != at[1] ||
            !found[1].swapped) {
            state.SkipWithError("the blocks found are not the blocks put in");
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_FindBlocks)->Unit(benchmark::kMillisecond);

} // namespace
