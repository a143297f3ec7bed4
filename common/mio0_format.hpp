#pragma once

// Facts of the MIO0 block format that the decoder, the block finder and the
// encoder share.
//
//   offset  size   field
//   0       4      magic "MIO0"
//   4       4      decompressed size D          (all numbers big-endian)
//   8       4      pairs offset P
//   12      4      literals offset L
//   16      P-16   layout bits, most significant bit first:
//                  1 = next literal byte, 0 = next back-reference pair
//   P       L-P    back-reference pairs, 16 bits each:
//                  length (v >> 12) + 3, distance back (v & 0x0FFF) + 1
//   L       N      literal bytes, N = count of 1 bits in the whole layout region
//
// A block stored with every byte pair exchanged starts with "IM0O".

#include <array>
#include <cstddef>
#include <cstdint>

namespace mio0 {

inline constexpr std::size_t header_size = 16;
inline constexpr std::array<std::uint8_t, 4> magic = {'M', 'I', 'O', '0'};
inline constexpr std::array<std::uint8_t, 4> swapped_magic = {'I', 'M', '0', 'O'};

inline constexpr unsigned min_match = 3;
inline constexpr unsigned max_match = 18;
inline constexpr unsigned max_distance = 4096;

// Bits a parse costs: one layout flag plus the byte, or a flag plus a pair.
inline constexpr unsigned literal_bits = 9;
inline constexpr unsigned pair_bits = 17;

// The layout region of a block must stay below 2^29 bytes: its flag count,
// 8 x (P - 16), is a 32-bit quantity.
inline constexpr std::uint32_t max_layout_bytes = (std::uint32_t{1} << 29) - 1;

inline std::uint32_t read_be32(const std::uint8_t* bytes, std::uint8_t position)
{
    return std::uint32_t{bytes[position]} << 24 | std::uint32_t{bytes[position + 1]} << 16 |
           std::uint32_t{bytes[position + 2]} << 8 | std::uint32_t{bytes[position + 3]};
}

inline void write_be32(std::uint8_t* bytes, std::uint32_t value)
{
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

inline constexpr unsigned pair_length(std::uint16_t word) { return (word >> 12) + min_match; }
inline constexpr unsigned pair_distance(std::uint16_t word) { return (word & 0x0FFFu) + 1; }

// Requires min_match <= length <= max_match and 1 <= distance <= max_distance.
inline constexpr std::uint16_t pair_word(unsigned length, unsigned distance)
{
    return static_cast<std::uint16_t>((length - min_match) << 12 | (distance - 1));
}

static_assert(pair_length(0xFFFF) == max_match && pair_distance(0xFFFF) == max_distance);

} // namespace mio0
