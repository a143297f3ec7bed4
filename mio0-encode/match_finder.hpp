#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

struct Match {
    unsigned length = 0;   // 0 when no match of at least 3 bytes exists
    unsigned distance = 0; // 1 to 4096
};

// Finds, at every position, the longest match the format can express: the
// most bytes (at most 18, and never past the end of the data) that equal the
// bytes 1 to 4096 positions earlier. Exact, not heuristic.
//
// The window is kept as binary search trees of the strings that start at
// the last 4096 positions, one tree per hash of their first four bytes. A
// new position is inserted at the root and the old tree is split around
// it; the path of that split passes both lexicographic neighbours of the
// new string, and one of them shares its longest prefix with it. Inserting
// at the root keeps every node newer than all its descendants, so the walk
// can stop at the first node that has left the window: everything below it
// has left too. A node equal to the new string in all 18 bytes is replaced,
// since the newer one matches every later string at least as well.
//
// A match of only three bytes is not in the trees: where they find none of
// four, the nearest earlier string with the same first three bytes is taken
// from a list of the positions of each hash of three bytes, newest first.
// Trees of four bytes are shallower than trees of three by about a third,
// and the list is mostly read at its first entry.
//
// Typical cost is the depth of the tree; the worst case is bounded by the
// window, 4096 steps a position.
class MatchFinder {
public:
    explicit MatchFinder(std::span<const std::uint8_t> data);

    // Adds `position` to the window and returns the longest match at it.
    // Must be called once for each position of a run of consecutive
    // positions, in order. The run may start anywhere: matches are found
    // among the positions of the run before `position`, so a run started
    // 4096 positions early finds every match.
    Match insert_and_find(std::uint32_t position);

    // Forgets every position, to start a new run.
    void reset();

private:
    Match insert_in_list3(std::uint32_t position);
    Match insert_in_tree(std::uint32_t position);
    // The three-byte list of the strings whose first three bytes are `first3`.
    std::size_t list3_bucket(std::uint32_t first3) const { return (first3 * 2654435761u) >> hash_shift_; }

    std::span<const std::uint8_t> data_;
    unsigned hash_shift_;                    // 32 - bits of the bucket index
    std::vector<std::uint32_t> head_;        // root of the tree of each hash of four bytes
    std::vector<std::uint32_t> tree_;        // two children per position, cyclic
    std::vector<std::uint32_t> list3_head_;  // newest position of each hash of three bytes
    std::vector<std::uint32_t> list3_chain_; // next older position of the same hash, cyclic
    std::uint32_t slot_mask_;                // tree_ and list3_chain_ hold slot_mask_ + 1 positions
};
