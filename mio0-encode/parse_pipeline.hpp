#pragma once

// Driving the parse: matches found, the path stepped through them and
// handed to the settler, on one thread for small inputs and in a pipeline
// of chunks on three for large ones.

#include <cstddef>
#include <cstdint>
#include <span>

#include "encoder.hpp"
#include "path_settler.hpp"

// The chunk sizes the pipeline takes, a nonzero tuning.chunk_size clamped to
// them. Each chunk costs its thread 4096 positions of lead-in and a cleared
// finder, so much smaller chunks would be mostly lead-in; four chunks are
// buffered at 4 bytes a position, so the largest keep that to 32 MiB.
inline constexpr std::size_t min_chunk_size = 256;
inline constexpr std::size_t max_chunk_size = std::size_t{1} << 21;

struct ParseReport {
    std::size_t chunks = 0;    // 0 when the input was parsed in one pass
    std::size_t restepped = 0; // chunks whose guessed path was wrong and was stepped again
};

// Finds the shortest path through `input` and emits it through `path`, up
// to the end. The path does not depend on `tuning`. Throws std::bad_alloc.
ParseReport parse_shortest_path(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path);
