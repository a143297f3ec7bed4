#pragma once

// The forward pass of the shortest path that is the parse, stepped one
// position at a time in vector registers.
//
// The parse is a shortest path over positions 0..n: a literal leads from p
// to p + 1, a match of length m found at p leads to p + len for every len
// from 3 to m (a prefix of a match is a match at the same distance).
// Relaxing edges in position order needs only the costs of the next 18
// positions. Of two edges that reach a position at equal cost, the one
// from the later position is kept: the path settler relies on that to see
// the candidate paths through a run meet soon.

#include <cstddef>
#include <cstdint>

// Eight 16-bit lanes, one SSE2 register on x86-64.
using Lanes = std::int16_t __attribute__((vector_size(16)));

// The state of the pass before some position i is stepped: the costs of
// positions i to i + 23, counted from an arbitrary base, each with the
// length of the edge it is reached by. path_step.cpp holds the encoding.
struct PathWindow {
    static constexpr std::size_t registers = 3;
    Lanes lanes[registers];

    // Position 0, or a guess at any other position: reached at no cost,
    // nothing after it reached yet.
    static PathWindow start();

    // Whether every later step chooses the same edges from this window as
    // from `other`. Only then may the edges stepped from one stand for
    // those of the other.
    bool leads_as(const PathWindow& other) const;
};

// Steps `count` positions from `window`, given the length of the longest
// match found at each (0, or 3 to 18): offers the edges out of each
// position, whose cost is final once every earlier one has been stepped.
// edges[j] receives the length of the edge chosen into the position j + 1
// after the first one stepped, 1 for a literal.
void step_positions(PathWindow& window, std::size_t count, const std::uint8_t* match_lengths,
                    std::uint8_t* edges);
