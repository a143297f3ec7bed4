#pragma once

// The listing: every offset of a file at which a block decodes.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "decode_status.hpp"

struct FoundBlock {
    std::uint64_t offset = 0;
    bool swapped = false;
    std::uint32_t decompressed_size = 0;
    std::uint64_t stored_length = 0; // L + N: header, layout, pairs and literals
};

// Receives the blocks of a listing as they are found, in increasing order
// of offset. Returning false stops the listing (WriteFailed).
class ListingSink {
public:
    virtual ~ListingSink() = default;
    [[nodiscard]] virtual bool found(const FoundBlock& block) = 0;
};

// Pieces in which a listing reads the file, and the granule of its table of
// 1-bit counts. Small values exist for tests and fuzzing.
struct ScanTuning {
    std::size_t piece = std::size_t{64} << 10;
    std::size_t ones_granule = std::size_t{4} << 10;
};

// Passes to `sink` every offset below 2^32 of the file at `path` at which a
// block in either storage decodes (check_block), in increasing order. Each
// candidate is checked in buffers of a fixed size, whatever its header
// claims; a candidate that cannot be checked for any reason but a read
// error of the file is no block. The literal counts of long layouts come
// from a table of 1-bit counts of the file, built once, so the work grows
// with the file, not with candidates x layouts. A pipe is read whole first.
DecodeStatus scan_file(const char* path, ListingSink& sink, const ScanTuning& tuning = {});

// The same listing of a file held in memory.
std::vector<FoundBlock> find_blocks(std::span<const std::uint8_t> file, const ScanTuning& tuning = {});

// The listing's text: a header line, then one tab-separated line per block.
std::string listing_header();
std::string format_row(const FoundBlock& block);

// The listing run: scan_file into `destination`, which is created when the
// first block is found and written as blocks are found. NoBlocks, and no
// destination, for a file without blocks.
DecodeStatus list_blocks(const char* path, const char* destination, const ScanTuning& tuning = {});
