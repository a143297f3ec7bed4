#include "match_finder.hpp"

#include <algorithm>

#include "mio0_format.hpp"

namespace {

constexpr std::uint32_t none = 0xFFFFFFFFu;
constexpr unsigned hash_bits = 16;
// Twice the window, so that a position and the one 4096 before it, which is
// still a candidate, never share a slot.
constexpr std::uint32_t tree_slots = 2 * mio0::max_distance;
static_assert((tree_slots & (tree_slots - 1)) == 0);

inline std::uint32_t hash3(const std::uint8_t* p)
{
    const std::uint32_t v = std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
    return (v * 2654435761u) >> (32 - hash_bits);
}

} // namespace

MatchFinder::MatchFinder(std::span<const std::uint8_t> data)
    : data_(data), head_(std::size_t{1} << hash_bits, none), tree_(2 * std::size_t{tree_slots}, none)
{
}

Match MatchFinder::search_tail(std::uint32_t position) const
{
    // Fewer than 18 bytes are left: such positions are not put in the
    // trees (their strings are too short to order with the others), and a
    // plain scan of the window costs at most 17 x 4096 steps at each.
    const std::uint8_t* const cur = data_.data() + position;
    const auto limit = static_cast<unsigned>(data_.size() - position);
    const std::uint32_t first = position > mio0::max_distance ? position - mio0::max_distance : 0;
    Match best;
    for (std::uint32_t candidate = position; candidate-- > first;) {
        const std::uint8_t* const old = data_.data() + candidate;
        unsigned length = 0;
        while (length < limit && old[length] == cur[length])
            ++length;
        if (length > best.length)
            best = {length, position - candidate};
    }
    return best.length >= mio0::min_match ? best : Match{};
}

Match MatchFinder::find(std::uint32_t position)
{
    if (data_.size() - position < mio0::max_match)
        return search_tail(position);

    const std::uint8_t* const cur = data_.data() + position;
    std::uint32_t& head = head_[hash3(cur)];
    std::uint32_t candidate = head;
    head = position;

    // smaller: where the next node that sorts before cur is hung;
    // larger: likewise for nodes that sort after it. Every node left in the
    // subtree being walked shares min(smaller_length, larger_length) bytes
    // with cur, so comparisons start there.
    std::uint32_t* smaller = &tree_[2 * (position & (tree_slots - 1))];
    std::uint32_t* larger = smaller + 1;
    unsigned smaller_length = 0;
    unsigned larger_length = 0;
    Match best;
    for (;;) {
        if (candidate == none || position - candidate > mio0::max_distance) {
            *smaller = none;
            *larger = none;
            break;
        }
        std::uint32_t* const node = &tree_[2 * (candidate & (tree_slots - 1))];
        const std::uint8_t* const old = data_.data() + candidate;
        unsigned length = std::min(smaller_length, larger_length);
        while (length < mio0::max_match && old[length] == cur[length])
            ++length;
        if (length > best.length)
            best = {length, position - candidate};
        if (length == mio0::max_match) {
            *smaller = node[0];
            *larger = node[1];
            break;
        }
        if (old[length] < cur[length]) {
            *smaller = candidate;
            smaller = &node[1];
            candidate = node[1];
            smaller_length = length;
        } else {
            *larger = candidate;
            larger = &node[0];
            candidate = node[0];
            larger_length = length;
        }
    }
    return best.length >= mio0::min_match ? best : Match{};
}
