#pragma once

// Emitting the tokens of the shortest path as soon as they are certain.
//
// The chosen edge into each position is kept only until the path through it
// is known: every edge is at most 18 bytes long, so the path to the end
// passes through one of any 18 consecutive final positions, and where the
// back chains of the newest 18 meet, the path up to that point is settled
// whatever comes later. With ties kept for the edge from the later position
// (see path_step.hpp), the chains of a run of equal bytes all pass through
// the ends of its 18-byte pairs and meet within a token or two (kept the
// other way, they would run side by side, 18 bytes apart, through the whole
// run). On real data they meet within a few tokens, so the kept edges are
// few and stay in cache. Inputs whose chains stay apart for long make them
// grow, to at most one entry a position.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "block_builder.hpp"
#include "mio0_format.hpp"

class PathSettler {
public:
    // The fewest and the most positions taken between tries to settle, as
    // asked for at construction. The most keeps a careless tuning from
    // sizing gigabytes of kept edges; chains that stay apart for longer
    // still make room for themselves, up to what the input needs.
    static constexpr std::size_t min_settle_span = mio0::max_match; // the walk starts from 18 positions
    static constexpr std::size_t max_settle_span = std::size_t{1} << 20;

    // `settle_span` is clamped to the bounds above. Throws std::bad_alloc.
    PathSettler(std::span<const std::uint8_t> input, TokenStreams& out, std::size_t settle_span);

    // Takes the edges into positions first + 1 to first + count, and the
    // distances of the matches found at first to first + count - 1. Every
    // position is taken once, in order, from 0.
    void take(std::size_t first, std::size_t count, const std::uint8_t* edges, const std::uint16_t* distances);

    // Emits the rest of the path, once every position before n is taken.
    void finish(std::size_t n);

    // Positions the kept edges have room for.
    std::size_t capacity() const { return lengths_.size(); }

private:
    void settle(std::size_t frontier);
    void emit_path(std::size_t end);
    void make_room();

    std::span<const std::uint8_t> input_;
    TokenStreams& out_;
    std::vector<std::uint8_t> lengths_;    // [p - base_]: length of the edge into p, 1 for a literal
    std::vector<std::uint16_t> distances_; // [p - base_]: distance of the match found at p
    std::vector<std::uint32_t> starts_;    // token starts, newest first, while a path is emitted
    std::size_t base_ = 0;                 // the path up to here is emitted
    std::size_t settle_span_;              // positions taken after base_ before settling again
};
