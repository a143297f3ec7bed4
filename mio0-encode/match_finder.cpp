#include "match_finder.hpp"

#include <algorithm>
#include <bit>

#include "mio0_format.hpp"

namespace {

constexpr std::uint32_t none = 0xFFFFFFFFu;
constexpr unsigned max_hash_bits = 16;
// Twice the window, so that a position and the one 4096 before it, which is
// still a candidate, never share a slot. Shorter inputs need no more slots
// than positions.
constexpr std::size_t max_tree_slots = 2 * mio0::max_distance;
static_assert(std::has_single_bit(max_tree_slots));

// Small inputs get small tables: setting them up is most of their cost.
unsigned hash_bits_for(std::size_t size)
{
    return std::clamp<unsigned>(static_cast<unsigned>(std::bit_width(size)), 8, max_hash_bits);
}

std::size_t tree_slots_for(std::size_t size)
{
    return std::min(max_tree_slots, std::bit_ceil(std::max<std::size_t>(size, 2)));
}

} // namespace

MatchFinder::MatchFinder(std::span<const std::uint8_t> data)
    : data_(data),
      hash_shift_(32 - hash_bits_for(data.size())),
      head_(std::size_t{1} << hash_bits_for(data.size()), none),
      tree_(2 * tree_slots_for(data.size()), none),
      slot_mask_(static_cast<std::uint32_t>(tree_slots_for(data.size()) - 1))
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
    const std::uint32_t prefix = std::uint32_t{cur[0]} << 16 | std::uint32_t{cur[1]} << 8 | cur[2];
    std::uint32_t& head = head_[(prefix * 2654435761u) >> hash_shift_];
    std::uint32_t candidate = head;
    head = position;

    // smaller: where the next node that sorts before cur is hung;
    // larger: likewise for nodes that sort after it. Every node left in the
    // subtree being walked shares min(smaller_length, larger_length) bytes
    // with cur, so comparisons start there.
    std::uint32_t* smaller = &tree_[2 * (position & slot_mask_)];
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
        std::uint32_t* const node = &tree_[2 * (candidate & slot_mask_)];
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
