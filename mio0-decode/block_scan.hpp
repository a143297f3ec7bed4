#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "block_reader.hpp"

struct FoundBlock {
    std::uint64_t offset = 0;
    bool swapped = false;
    std::uint32_t decompressed_size = 0;
    std::uint64_t stored_length = 0; // L + N: header, layout, pairs and literals
};

// Tells, without producing a byte, what decoding the block at `offset` of
// `file` would give: Ok exactly when load_block and decode_block would both
// succeed there. Back-references are checked by counting output positions,
// so nothing of the decompressed size is allocated, and a bogus candidate
// costs at most one pass over its own layout bits.
DecodeStatus check_block(std::span<const std::uint8_t> file, std::uint64_t offset, FoundBlock& found);

// The same check on the bytes of a block alone: `bytes` starts at the
// block and holds its header, its layout bits and the pairs its flags can
// reach (min(pairs, flags) of them, and one byte more), or its whole body
// if that is shorter, or all of the `available` bytes that the file holds
// from the block's offset on when they are fewer.
// Leaves found.offset as it is.
DecodeStatus check_block_bytes(std::span<const std::uint8_t> bytes, std::uint64_t available, FoundBlock& found);

// Every offset that the decoder can take (below 2^32) at which a block in
// either storage decodes, in increasing order. Blocks may overlap.
std::vector<FoundBlock> find_blocks(std::span<const std::uint8_t> file);

// The listing of the file at `path`: find_blocks over its content, read
// through the descriptor piece by piece, without holding the file. A pipe
// is read whole first. OpenFailed when the file cannot be opened or read.
DecodeStatus list_blocks(const char* path, std::vector<FoundBlock>& blocks);

// The listing: a header line, then one tab-separated line per block.
std::string format_listing(const std::vector<FoundBlock>& blocks);
