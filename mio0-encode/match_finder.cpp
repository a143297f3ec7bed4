#include "match_finder.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

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

// Positions this close to the end are searched by a plain scan: the trees
// compare 8 bytes at a time and may read up to 41 bytes past a position.
constexpr std::size_t tail_length = 48;

inline std::uint64_t load64(const std::uint8_t* p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Length of the common prefix of a and b, at most 18, given that their
// first `from` bytes are known to agree.
inline unsigned common_prefix(const std::uint8_t* a, const std::uint8_t* b, unsigned from)
{
    while (from < mio0::max_match) {
        const std::uint64_t differ = load64(a + from) ^ load64(b + from);
        if (differ != 0) {
            const int same_bits = std::endian::native == std::endian::little ? std::countr_zero(differ)
                                                                            : std::countl_zero(differ);
            from += static_cast<unsigned>(same_bits) / 8;
            break;
        }
        from += 8;
    }
    return std::min<unsigned>(from, mio0::max_match);
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
    // Few bytes are left: such positions are not put in the trees (later
    // positions are all searched here too), and a plain scan of the window
    // costs at most 18 x 4096 steps at each.
    const std::uint8_t* const cur = data_.data() + position;
    const auto limit = static_cast<unsigned>(std::min<std::size_t>(mio0::max_match, data_.size() - position));
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

void MatchFinder::reset()
{
    std::fill(head_.begin(), head_.end(), none);
}

Match MatchFinder::find(std::uint32_t position)
{
    if (data_.size() - position < tail_length)
        return search_tail(position);

    return insert(position);
}

Match MatchFinder::insert(std::uint32_t position)
{
    const std::uint8_t* const cur = data_.data() + position;
    const std::uint32_t prefix = std::uint32_t{cur[0]} << 16 | std::uint32_t{cur[1]} << 8 | cur[2];
    std::uint32_t& head = head_[(prefix * 2654435761u) >> hash_shift_];
    std::uint32_t candidate = head;
    head = position;

    // link[1]: where the next node that sorts before cur is hung; link[0]:
    // likewise for nodes that sort after it. Every node left in the subtree
    // being walked shares min(known[0], known[1]) bytes with cur, so
    // comparisons start there. Indexing by the comparison instead of
    // branching on it keeps the walk free of unpredictable branches.
    std::uint32_t* const slot = &tree_[2 * (position & slot_mask_)];
    std::uint32_t* link[2] = {slot + 1, slot};
    unsigned known[2] = {0, 0};
    Match best;
    for (;;) {
        if (candidate == none || position - candidate > mio0::max_distance) {
            *link[0] = none;
            *link[1] = none;
            break;
        }
        std::uint32_t* const node = &tree_[2 * (candidate & slot_mask_)];
        const std::uint8_t* const old = data_.data() + candidate;
        const unsigned length = common_prefix(old, cur, std::min(known[0], known[1]));
        if (length > best.length)
            best = {length, position - candidate};
        if (length == mio0::max_match) {
            *link[1] = node[0];
            *link[0] = node[1];
            break;
        }
        const unsigned before = old[length] < cur[length] ? 1 : 0;
        *link[before] = candidate;
        link[before] = &node[before];
        known[before] = length;
        candidate = node[before];
    }
    return best.length >= mio0::min_match ? best : Match{};
}
