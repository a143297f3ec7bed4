#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_buffer.hpp"
#include "mio0_format.hpp"

enum class EncodeStatus : std::uint8_t {
    Ok,
    OutOfMemory,
    TooLarge, // the sizes of the block would not fit its 32-bit fields
};

// The largest input a block can hold. D is a 32-bit field, and the layout
// region, 8 x (P - 16) flags, must stay below 2^29 bytes. A parse has at
// most one token a byte, 32 flags to a 4-byte word, so 32 bytes below the
// top of D keep the layout region of every parse of every accepted size
// below that bound, whatever the parse.
inline constexpr std::uint64_t max_encode_input = 0xFFFFFFFFu - 32;
static_assert((max_encode_input + 31) / 32 * 4 <= mio0::max_layout_bytes);

// How the parse is computed, never what it is: tests turn these to reach
// the paths that large inputs take. Out-of-range values are taken as the
// nearest bound, so that no value, however large, makes the parse allocate
// more than a few MiB beyond what the input itself needs.
struct ParseTuning {
    // Inputs of two chunks or more are parsed by several threads, a chunk
    // at a time (never when 0; else 256 bytes to 2 MiB). Buffers of four
    // chunks are kept, 4 bytes a position of a chunk.
    std::size_t chunk_size = std::size_t{1} << 20;
    // How far before its chunk a thread starts the path it guesses (at most
    // 4096). Where the guess proves wrong, the chunk is parsed again.
    std::size_t guess_lead = 4096;
    // How many positions pass between tries to emit the part of the path
    // that has become certain (18 to 2^20).
    std::size_t settle_span = std::size_t{1} << 14;
};

// Compresses `input` into one MIO0 block in normal storage. The parse is
// optimal: of all ways to cut the input into literals (9 bits) and
// back-references (17 bits), it takes one with the fewest bits. The layout
// region is padded with zero bits to a multiple of 4 bytes, so P and L are
// even and the block survives pair-swapping exactly. Deterministic.
EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block,
                          const ParseTuning& tuning = {});
