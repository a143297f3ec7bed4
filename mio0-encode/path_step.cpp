#include "path_step.hpp"

#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "mio0_format.hpp"

namespace {

// Lanes 1 to 8 of low and high taken together: a window moved on by one
// lane. Compilers build a general shuffle of two SSE2 registers lane by
// lane, so the two byte shifts it comes down to are spelled out.
inline Lanes shift_in(Lanes low, Lanes high)
{
#if defined(__SSE2__)
    const __m128i moved = _mm_or_si128(_mm_srli_si128(std::bit_cast<__m128i>(low), 2),
                                       _mm_slli_si128(std::bit_cast<__m128i>(high), 14));
    return std::bit_cast<Lanes>(moved);
#else
    return __builtin_shufflevector(low, high, 1, 2, 3, 4, 5, 6, 7, 8);
#endif
}

inline Lanes lane_min(Lanes a, Lanes b)
{
#if defined(__SSE2__)
    return std::bit_cast<Lanes>(_mm_min_epi16(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
#else
    const Lanes less = a < b;
    return (a & less) | (b & ~less);
#endif
}

// The window of a step at position i covers positions i to i + 23 in three
// registers: lane j of register k stands for i + 8k + j, which an edge of
// length 8k + j reaches from i.
//
// A lane holds the cost of the cheapest way found to its position, in bits
// more than the cost of i, times 32, plus the length of the edge it ends
// with. The cheaper way is then the smaller value, and of two ways of equal
// cost the one with the shorter last edge, that is the one from the later
// position. A position not reached yet holds a cost that any edge beats.
//
// The cost of a position is at most one bit below that of the one before
// it. The last token into p + 1 is a literal from p (9 bits more than p), a
// pair whose prefix one byte shorter reaches p at the same cost, or a pair
// of 3 bytes (17 bits) from p - 2, from where two literals (18 bits) reach
// p. So a position reached from q < i costs at most (i - q) + 17 bits more
// than i, and the lanes stay far from overflowing.
constexpr std::size_t window_registers = PathWindow::registers;
constexpr int length_bits = 5;
constexpr std::int16_t length_mask = (1 << length_bits) - 1;
constexpr std::int16_t unreached = 512 << length_bits;
constexpr std::int16_t reached_below = 128 << length_bits;
constexpr std::int16_t no_edge = 0x7FFF;
static_assert(mio0::max_match == 18 && mio0::min_match == 3 && mio0::max_match < 8 * window_registers);
static_assert(mio0::max_match <= length_mask);
// Reached lanes stay below reached_below; an unreached one, counted from a
// cost up to 9 bits higher at each of the 22 steps before the literal
// reaches it, stays above.
static_assert(((mio0::max_match + mio0::pair_bits) << length_bits) < reached_below);
static_assert(unreached - ((22 * mio0::literal_bits) << length_bits) > reached_below);

// The edges out of i, by the length of the match found at i: the literal
// to i + 1, and a pair to every position the match reaches.
struct EdgeTable {
    alignas(16) std::int16_t edges[mio0::max_match + 1][window_registers][8];

    constexpr EdgeTable() : edges{}
    {
        for (unsigned match = 0; match <= mio0::max_match; ++match)
            for (unsigned k = 0; k < window_registers; ++k)
                for (unsigned lane = 0; lane < 8; ++lane) {
                    const unsigned length = 8 * k + lane;
                    std::int16_t value = no_edge;
                    if (length == 1)
                        value = static_cast<std::int16_t>(mio0::literal_bits << length_bits | 1);
                    else if (length >= mio0::min_match && length <= match)
                        value = static_cast<std::int16_t>(mio0::pair_bits << length_bits | length);
                    edges[match][k][lane] = value;
                }
    }
};
constexpr EdgeTable edge_table;

} // namespace

PathWindow PathWindow::start()
{
    PathWindow window;
    for (Lanes& lane : window.lanes)
        lane = Lanes{} + unreached;
    window.lanes[0][0] = 0;
    return window;
}

// Two windows lead alike when, counted from the cost of their first lane,
// they hold the same costs and edges, or both positions are not reached yet
// (such a lane loses to any edge, whatever it holds). The edge into the
// first position is final already and taken from there, so its lane is not
// compared.
bool PathWindow::leads_as(const PathWindow& other) const
{
    const Lanes base = Lanes{} + static_cast<std::int16_t>(lanes[0][0] & ~length_mask);
    const Lanes other_base = Lanes{} + static_cast<std::int16_t>(other.lanes[0][0] & ~length_mask);
    for (std::size_t k = 0; k < window_registers; ++k) {
        const Lanes here = lanes[k] - base;
        const Lanes there = other.lanes[k] - other_base;
        for (std::size_t lane = k == 0 ? 1 : 0; lane < 8; ++lane) {
            const bool reached = here[lane] < reached_below;
            if (reached != (there[lane] < reached_below) || (reached && here[lane] != there[lane]))
                return false;
        }
    }
    return true;
}

// Without branches: whether an edge wins is as good as random.
void step_positions(PathWindow& window, std::size_t count, const std::uint8_t* match_lengths,
                    std::uint8_t* edges)
{
    // Named locals, not an array, so that compilers keep them in registers.
    Lanes lanes0 = window.lanes[0], lanes1 = window.lanes[1], lanes2 = window.lanes[2];
    const Lanes far = Lanes{} + unreached;
    for (std::size_t j = 0; j < count; ++j) {
        // Count costs from the cost of position i.
        const Lanes base = __builtin_shufflevector(lanes0, lanes0, 0, 0, 0, 0, 0, 0, 0, 0) & ~length_mask;
        Lanes offer[window_registers];
        std::memcpy(offer, edge_table.edges[match_lengths[j]], sizeof offer);
        lanes0 = lane_min(lanes0 - base, offer[0]);
        lanes1 = lane_min(lanes1 - base, offer[1]);
        lanes2 = lane_min(lanes2 - base, offer[2]);
        edges[j] = static_cast<std::uint8_t>(lanes0[1] & length_mask); // final now

        // Move the window on by one position.
        lanes0 = shift_in(lanes0, lanes1);
        lanes1 = shift_in(lanes1, lanes2);
        lanes2 = shift_in(lanes2, far);
    }
    window.lanes[0] = lanes0, window.lanes[1] = lanes1, window.lanes[2] = lanes2;
}
