#pragma once

// A test-only writer of MIO0 blocks, so that tests can state a block by its
// parts, including the malformed ones no encoder would write.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "byte_pairs.hpp"
#include "mio0_format.hpp"

struct TestPair {
    unsigned length;
    unsigned distance;
};

struct TestBlock {
    std::uint32_t decompressed_size = 0;
    std::vector<std::uint8_t> layout;   // raw layout bytes
    std::vector<std::uint16_t> pairs;   // raw pair words
    std::vector<std::uint8_t> literals;
    bool odd_pair_byte = false;         // one byte after the last pair, L - P odd
    std::optional<std::uint32_t> pairs_offset;    // overrides of the header fields
    std::optional<std::uint32_t> literals_offset;

    std::vector<std::uint8_t> bytes() const
    {
        const auto p = static_cast<std::uint32_t>(16 + layout.size());
        const auto l = static_cast<std::uint32_t>(p + 2 * pairs.size() + (odd_pair_byte ? 1 : 0));
        // Sized once up front: growing with insert() trips a false
        // -Warray-bounds in GCC 12.
        std::vector<std::uint8_t> out(std::size_t{l} + literals.size());
        mio0::write_header(out.data(), {false, decompressed_size, pairs_offset.value_or(p), literals_offset.value_or(l)});
        std::copy(layout.begin(), layout.end(), out.begin() + 16);
        std::size_t at = p;
        for (const std::uint16_t word : pairs) {
            out[at++] = static_cast<std::uint8_t>(word >> 8);
            out[at++] = static_cast<std::uint8_t>(word);
        }
        if (odd_pair_byte)
            out[at++] = 0xEE;
        std::copy(literals.begin(), literals.end(), out.begin() + static_cast<long>(at));
        return out;
    }

    std::vector<std::uint8_t> swapped_bytes() const
    {
        std::vector<std::uint8_t> out = bytes();
        swap_byte_pairs(out.data(), out.size());
        return out;
    }
};

// flags: '1' for a literal, '0' for a pair, in order; padded with 0 bits.
inline TestBlock make_block(const std::string& flags, std::vector<std::uint8_t> literals,
                            const std::vector<TestPair>& pairs, std::uint32_t decompressed_size)
{
    TestBlock block;
    block.decompressed_size = decompressed_size;
    block.layout.assign((flags.size() + 7) / 8, 0);
    for (std::size_t j = 0; j < flags.size(); ++j)
        if (flags[j] == '1')
            block.layout[j / 8] = static_cast<std::uint8_t>(block.layout[j / 8] | (0x80u >> (j % 8)));
    for (const TestPair& pair : pairs)
        block.pairs.push_back(mio0::pair_word(pair.length, pair.distance));
    block.literals = std::move(literals);
    return block;
}

inline std::vector<std::uint8_t> bytes_of(const std::string& text) { return {text.begin(), text.end()}; }
