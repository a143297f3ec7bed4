#pragma once

// The MIO0 block format: its constants, the header, the pair word and where
// a block's bytes lie in each storage. The decoder, the listing, the encoder
// and the tests all read and write blocks through this module (with
// block_input.hpp and block_walk.hpp).
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
// A block stored with every byte pair exchanged starts with "IM0O"; see
// stored_position for how its bytes are laid out in the input.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

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

// The pair word.
inline constexpr unsigned pair_length(std::uint16_t word) { return (word >> 12) + min_match; }
inline constexpr unsigned pair_distance(std::uint16_t word) { return (word & 0x0FFFu) + 1; }

// Requires min_match <= length <= max_match and 1 <= distance <= max_distance.
inline constexpr std::uint16_t pair_word(unsigned length, unsigned distance)
{
    return static_cast<std::uint16_t>((length - min_match) << 12 | (distance - 1));
}

static_assert(pair_length(0xFFFF) == max_match && pair_distance(0xFFFF) == max_distance);

// A header put back in order. Once parse_header has accepted it,
// 16 <= P <= L and P - 16 <= max_layout_bytes, so every size below is exact
// in 32-bit arithmetic.
struct BlockHeader {
    bool swapped = false; // stored pair-swapped: the magic read "IM0O"
    std::uint32_t decompressed_size = 0;
    std::uint32_t pairs_offset = 0;
    std::uint32_t literals_offset = 0;

    std::uint32_t layout_length() const { return pairs_offset - static_cast<std::uint32_t>(header_size); }
    std::uint32_t flag_count() const { return layout_length() * 8; }
    // An odd last byte of the pairs region belongs to no pair.
    std::uint32_t pair_count() const { return (literals_offset - pairs_offset) / 2; }
};

enum class HeaderStatus : std::uint8_t {
    Ok,
    BadMagic,  // neither "MIO0" nor "IM0O"
    SizesWrap, // P below 16, L below P, or a layout region of 2^29 bytes or more
};

// Reads the 16 header bytes as stored, in either storage; the magic tells
// which. The header of a block always lies inside the block's first 16
// bytes whatever the storage, since 16 is even.
HeaderStatus parse_header(const std::uint8_t* stored, BlockHeader& header);

// Writes the 16 header bytes of `header` in its own storage.
void write_header(std::uint8_t* stored, const BlockHeader& header);

// Pair-swapped storage is the pairs of the input that the block lies in,
// counted from the block's first byte: block byte b is stored at b ^ 1, or
// at b itself where b ^ 1 lies past the end of the input. This is what a
// block at an even offset of a file passed whole through swap_byte_pairs
// looks like, and also a block swapped as a file of its own, whose odd last
// byte stayed in place. `available` is the count of input bytes from the
// block's first byte on.
inline constexpr std::uint64_t stored_position(std::uint64_t b, std::uint64_t available, bool swapped)
{
    if (!swapped)
        return b;
    const std::uint64_t partner = b ^ 1;
    return partner < available ? partner : b;
}

// Writes the block bytes `block` (logical order, block bytes `first` on) into
// `image`, whose byte 0 is the block's first byte, in the given storage by
// the rule above. Bytes of the image that are not the block's are left as
// they are, the partners of its first and last byte included. Requires
// every stored position to lie inside `image`.
void place_block_bytes(std::span<std::uint8_t> image, std::uint64_t first, std::span<const std::uint8_t> block,
                       bool swapped);

} // namespace mio0
