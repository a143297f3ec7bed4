#include "encoder.hpp"

#include <cstring>
#include <exception>
#include <limits>
#include <vector>

#include "match_finder.hpp"
#include "mio0_format.hpp"

namespace {

// The parse is a shortest path over positions 0..n: a literal leads from p
// to p + 1, a match of length m found at p leads to p + len for every len
// from 3 to m (a prefix of a match is a match at the same distance).
// Relaxing edges in position order needs the costs of the next 18
// positions only, kept in a ring; the chosen edge into each position is
// kept whole, as the pair word it would be written as.
constexpr std::size_t ring_size = 32;
static_assert(ring_size > mio0::max_match);
constexpr std::uint64_t unreached = std::numeric_limits<std::uint64_t>::max();

struct Parse {
    std::vector<std::uint16_t> words; // [p]: pair word of the edge into p
    std::vector<std::uint8_t> literal; // bit p: the edge into p is a literal
    std::uint64_t tokens = 0;
    std::uint64_t pairs = 0;
    std::uint64_t literals = 0;

    bool is_literal(std::size_t p) const { return (literal[p >> 3] >> (p & 7)) & 1u; }
    void set_literal(std::size_t p, bool value)
    {
        const auto bit = static_cast<std::uint8_t>(1u << (p & 7));
        literal[p >> 3] = static_cast<std::uint8_t>(value ? literal[p >> 3] | bit : literal[p >> 3] & ~bit);
    }
};

void shortest_parse(std::span<const std::uint8_t> input, Parse& parse)
{
    const std::size_t n = input.size();
    MatchFinder finder(input);
    std::uint64_t cost[ring_size];
    std::fill(std::begin(cost), std::end(cost), unreached);
    cost[0] = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint64_t here = cost[i % ring_size];
        cost[i % ring_size] = unreached; // the slot now stands for i + 32
        const std::uint64_t by_literal = here + mio0::literal_bits;
        if (by_literal < cost[(i + 1) % ring_size]) {
            cost[(i + 1) % ring_size] = by_literal;
            parse.set_literal(i + 1, true);
        }
        const Match match = finder.find(static_cast<std::uint32_t>(i));
        const std::uint64_t by_pair = here + mio0::pair_bits;
        for (unsigned length = mio0::min_match; length <= match.length; ++length) {
            std::uint64_t& target = cost[(i + length) % ring_size];
            if (by_pair < target) {
                target = by_pair;
                parse.set_literal(i + length, false);
                parse.words[i + length] = mio0::pair_word(length, match.distance);
            }
        }
    }

    // Walk back from the end, moving each chosen edge to the position just
    // after its start: for a literal that is where it already is, and for a
    // pair it is inside the pair's span, which the walk never visits again.
    // The forward pass then finds the token starting at s at s + 1.
    for (std::size_t p = n; p > 0;) {
        ++parse.tokens;
        if (parse.is_literal(p)) {
            ++parse.literals;
            --p;
            continue;
        }
        ++parse.pairs;
        const std::size_t start = p - mio0::pair_length(parse.words[p]);
        parse.words[start + 1] = parse.words[p];
        parse.set_literal(start + 1, false);
        p = start;
    }
}

} // namespace

EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block)
{
    const std::size_t n = input.size();
    if (n > max_encode_input)
        return EncodeStatus::TooLarge;
    Parse parse;
    try {
        parse.words.resize(n + 1);
        parse.literal.resize(n / 8 + 1);
        shortest_parse(input, parse);
    } catch (const std::exception&) {
        return EncodeStatus::OutOfMemory;
    }

    const std::uint64_t layout_bytes = (parse.tokens + 31) / 32 * 4;
    if (layout_bytes > mio0::max_layout_bytes)
        return EncodeStatus::TooLarge;
    const std::uint64_t pairs_offset = mio0::header_size + layout_bytes;
    const std::uint64_t literals_offset = pairs_offset + 2 * parse.pairs;
    if (literals_offset > 0xFFFFFFFFu)
        return EncodeStatus::TooLarge;
    if (!block.resize(static_cast<std::size_t>(literals_offset + parse.literals)))
        return EncodeStatus::OutOfMemory;

    std::uint8_t* const out = block.data();
    std::memcpy(out, mio0::magic.data(), mio0::magic.size());
    mio0::write_be32(out + 4, static_cast<std::uint32_t>(n));
    mio0::write_be32(out + 8, static_cast<std::uint32_t>(pairs_offset));
    mio0::write_be32(out + 12, static_cast<std::uint32_t>(literals_offset));
    std::uint8_t* const layout = out + mio0::header_size;
    std::memset(layout, 0, static_cast<std::size_t>(layout_bytes));
    std::uint8_t* pair_out = out + pairs_offset;
    std::uint8_t* literal_out = out + literals_offset;

    std::size_t token = 0;
    for (std::size_t s = 0; s < n; ++token) {
        if (parse.is_literal(s + 1)) {
            layout[token >> 3] = static_cast<std::uint8_t>(layout[token >> 3] | (0x80u >> (token & 7)));
            *literal_out++ = input[s];
            ++s;
        } else {
            const std::uint16_t word = parse.words[s + 1];
            *pair_out++ = static_cast<std::uint8_t>(word >> 8);
            *pair_out++ = static_cast<std::uint8_t>(word);
            s += mio0::pair_length(word);
        }
    }
    return EncodeStatus::Ok;
}
