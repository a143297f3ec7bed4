#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_buffer.hpp"

enum class EncodeStatus : std::uint8_t {
    Ok,
    OutOfMemory,
    TooLarge, // the sizes of the block would not fit its 32-bit fields
};

// The largest input a block can hold: D is a 32-bit field, and the layout
// region of one flag per token must stay below 2^29 bytes.
inline constexpr std::uint64_t max_encode_input = 0xFFFFFFFFu - 32;

inline constexpr std::size_t default_settle_span = std::size_t{1} << 14;

// Compresses `input` into one MIO0 block in normal storage. The parse is
// optimal: of all ways to cut the input into literals (9 bits) and
// back-references (17 bits), it takes one with the fewest bits. The layout
// region is padded with zero bits to a multiple of 4 bytes, so P and L are
// even and the block survives pair-swapping exactly. Deterministic.
//
// The parse is emitted as it becomes certain, checked every `settle_span`
// positions (at least 18); tests make it small to check that often.
EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block,
                          std::size_t settle_span = default_settle_span);
