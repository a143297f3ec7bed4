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

// Positions this close to the end are searched in the lists of three bytes
// only: the trees compare 8 bytes at a time and may read up to 41 bytes past
// a position.
constexpr std::size_t tail_length = 48;

inline std::uint32_t first_three(const std::uint8_t* p)
{
    return std::uint32_t{p[0]} << 16 | std::uint32_t{p[1]} << 8 | p[2];
}

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
      list3_head_(head_.size(), none),
      list3_chain_(tree_slots_for(data.size()), none),
      slot_mask_(static_cast<std::uint32_t>(tree_slots_for(data.size()) - 1))
{
}

Match MatchFinder::insert_in_list3(std::uint32_t position)
{
    // Few bytes are left: such positions are not put in the trees, whose
    // compares read past them, and later positions are all searched here
    // too. Every match of three bytes or more is in the list of the hash of
    // its first three, which every position with three bytes left joins.
    const std::uint8_t* const bytes = data_.data();
    const std::uint8_t* const cur = bytes + position;
    const auto limit = static_cast<unsigned>(std::min<std::size_t>(mio0::max_match, data_.size() - position));
    if (limit < mio0::min_match)
        return {};
    std::uint32_t& list3_head = list3_head_[list3_bucket(first_three(cur))];
    Match best;
    for (std::uint32_t older = list3_head; older != none && position - older <= mio0::max_distance;
         older = list3_chain_[older & slot_mask_]) {
        const std::uint8_t* const old = bytes + older;
        unsigned length = 0;
        while (length < limit && old[length] == cur[length])
            ++length;
        if (length > best.length)
            best = {length, position - older};
        if (length == limit)
            break; // the list is newest first: none later is nearer or longer
    }
    list3_chain_[position & slot_mask_] = list3_head;
    list3_head = position;
    return best.length >= mio0::min_match ? best : Match{};
}

void MatchFinder::reset()
{
    std::fill(head_.begin(), head_.end(), none);
    std::fill(list3_head_.begin(), list3_head_.end(), none);
}

Match MatchFinder::insert_and_find(std::uint32_t position)
{
    if (data_.size() - position < tail_length)
        return insert_in_list3(position);

    return insert_in_tree(position);
}

Match MatchFinder::insert_in_tree(std::uint32_t position)
{
    const std::uint8_t* const bytes = data_.data();
    const std::uint8_t* const cur = bytes + position;
    const std::uint32_t first3 = first_three(cur);
    const std::uint32_t first4 = first3 << 8 | cur[3];

    std::uint32_t& list3_head = list3_head_[list3_bucket(first3)];
    const std::uint32_t list3_first = list3_head;
    list3_head = position;
    list3_chain_[position & slot_mask_] = list3_first;

    std::uint32_t& head = head_[(first4 * 2246822519u) >> hash_shift_];
    std::uint32_t candidate = head;
    head = position;

    // smaller: where the next node that sorts before cur is hung; larger:
    // likewise for nodes that sort after it. Every node left in the subtree
    // being walked shares min(smaller_length, larger_length) bytes with cur,
    // so comparisons start there. The side a node goes to is written as
    // selects between the two links held in registers, not as an array of
    // the links indexed by the comparison, which made every step wait for
    // the store of the one before. Whether the selects become conditional
    // moves or a branch on `before` is the compiler's choice (clang moves,
    // gcc branches and speculates down the predicted side). Members are
    // read into locals: the stores into the tree might alias them.
    std::uint32_t* const tree = tree_.data();
    const std::uint32_t slot_mask = slot_mask_;
    std::uint32_t* smaller = &tree[2 * (position & slot_mask)];
    std::uint32_t* larger = smaller + 1;
    unsigned smaller_length = 0;
    unsigned larger_length = 0;
    unsigned best_length = 0;
    unsigned best_distance = 0;
    for (;;) {
        if (candidate == none || position - candidate > mio0::max_distance) {
            *smaller = none;
            *larger = none;
            break;
        }
        std::uint32_t* const node = &tree[2 * (candidate & slot_mask)];
        const std::uint8_t* const old = bytes + candidate;
        const unsigned length = common_prefix(old, cur, std::min(smaller_length, larger_length));
        const bool longer = length > best_length;
        best_distance = longer ? position - candidate : best_distance;
        best_length = longer ? length : best_length;
        if (length == mio0::max_match) {
            *smaller = node[0];
            *larger = node[1];
            break;
        }
        const bool before = old[length] < cur[length];
        *(before ? smaller : larger) = candidate;
        std::uint32_t* const child = node + (before ? 1 : 0);
        smaller = before ? child : smaller;
        larger = before ? larger : child;
        smaller_length = before ? length : smaller_length;
        larger_length = before ? larger_length : length;
        candidate = *child;
    }
    if (best_length > mio0::min_match)
        return {best_length, best_distance};

    // No match of four bytes. The list of the three-byte hash is newest
    // first, so its first entry with the same three bytes is the nearest,
    // and once one has left the window all after it have too.
    for (std::uint32_t older = list3_first; older != none && position - older <= mio0::max_distance;
         older = list3_chain_[older & slot_mask]) {
        const std::uint8_t* const old = bytes + older;
        if (old[0] == cur[0] && old[1] == cur[1] && old[2] == cur[2])
            return {mio0::min_match, position - older};
    }
    return {};
}
