// The hot loops of the stages in isolation, on data made here: the byte-pair
// swap, the block decoder, the encoder and the block finder. Whole-process
// comparisons with peer tools are the shell scripts beside this file.

#include <benchmark/benchmark.h>

#include <random>
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
    for (auto _ : state) {
        swap_byte_pairs(data.data(), data.size());
        benchmark::DoNotOptimize(data.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SwapBytePairs)->Arg(1 << 16)->Arg(1 << 24);

void BM_DecodeBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> input = sample_data(std::size_t{4} << 20);
    ByteBuffer block;
    if (encode_block(input, block) != EncodeStatus::Ok)
        state.SkipWithError("encode failed");
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

void BM_EncodeBlock(benchmark::State& state)
{
    const std::vector<std::uint8_t> input = sample_data(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ByteBuffer block;
        benchmark::DoNotOptimize(encode_block(input, block));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_EncodeBlock)->Arg(1 << 20)->Arg(std::int64_t{8} << 20)->Unit(benchmark::kMillisecond);

void BM_FindBlocks(benchmark::State& state)
{
    const std::vector<std::uint8_t> file = sample_data(std::size_t{16} << 20);
    for (auto _ : state)
        benchmark::DoNotOptimize(find_blocks(file).size());
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_FindBlocks)->Unit(benchmark::kMillisecond);

} // namespace
