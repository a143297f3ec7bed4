#include "decompress.hpp"

#include <algorithm>

#include "file_io.hpp"

DecodeResult decode_block(DecoderState& state)
{
    const std::uint8_t* const flags = state.layout_flags.data();
    const std::uint8_t* const literals = state.literals.data();
    const std::uint8_t* const lengths = state.pair_lengths.data();
    const std::uint16_t* const distances = state.pair_distances.data();
    std::uint8_t* const out = state.output.data();
    const std::uint32_t size = state.decompressed_size;

    // Bounds: i < size on every write, and load_block sized output for the
    // most the flags can produce (one byte per literal, 18 per pair), so
    // i also stays below output.size(). k < N since N counts every 1 flag.
    std::uint32_t i = 0;
    std::uint32_t k = 0;
    std::uint32_t l = 0;
    DecodeStatus status = DecodeStatus::Ok;
    for (std::uint32_t j = 0; j < state.flag_count && i < size; ++j) {
        if (flags[j] != 0) {
            out[i++] = literals[k++];
            continue;
        }
        if (l == state.pair_count)
            break;
        const std::uint32_t distance = distances[l];
        const std::uint32_t count = std::min<std::uint32_t>(lengths[l], size - i);
        ++l;
        if (distance > i) {
            status = DecodeStatus::NotMio0;
            break;
        }
        // Front to back, one byte at a time: a distance shorter than the
        // length repeats the bytes this same copy has just written.
        std::uint8_t* dst = out + i;
        const std::uint8_t* src = dst - distance;
        for (std::uint32_t t = 0; t < count; ++t)
            dst[t] = src[t];
        i += count;
    }
    state.produced = i;
    return {status, i};
}

DecodeStatus write_output(DecoderState& state, const char* destination)
{
    OutputFile file;
    if (!file.open(destination))
        return DecodeStatus::OpenFailed;
    const bool written = file.write(state.output.data(), state.produced) &&
                         file.write_zeros(std::uint64_t{state.decompressed_size} - state.produced);
    const bool closed = file.finish();
    state.layout_flags = {};
    state.pair_lengths = {};
    state.pair_distances = {};
    state.literals = {};
    state.output.release();
    state.produced = 0;
    return written && closed ? DecodeStatus::Ok : DecodeStatus::OpenFailed;
}
