#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "byte_buffer.hpp"

enum class DecodeStatus : std::uint16_t {
    Ok = 0,
    OpenFailed = 1,
    OutOfMemory = 2,
    NotMio0 = 3,
};

// The header of a block, put back in order and checked: 16 <= P <= L and a
// layout region below 2^29 bytes, so that every size derived from it is
// exact in 32-bit arithmetic.
struct BlockHeader {
    bool swapped = false;
    std::uint32_t decompressed_size = 0;
    std::uint32_t pairs_offset = 0;
    std::uint32_t literals_offset = 0;

    std::uint32_t layout_length() const { return pairs_offset - 16; }
    std::uint32_t body_length() const { return literals_offset - 16; }
    std::uint32_t flag_count() const { return layout_length() * 8; }
    std::uint32_t pair_count() const { return (literals_offset - pairs_offset) / 2; }
};

// Recognises the 16 stored header bytes. NotMio0 for another magic;
// OutOfMemory for the headers whose sizes would wrap (P below 16, L below P,
// a layout region of 2^29 bytes or more), which are refused before anything
// is allocated.
DecodeStatus check_header(const std::uint8_t* stored, BlockHeader& header);

// The working record of one decoding run.
struct DecoderState {
    bool swapped = false;
    std::uint32_t decompressed_size = 0;
    std::uint32_t flag_count = 0;
    std::uint32_t pair_count = 0;
    std::uint32_t literal_count = 0;
    std::vector<std::uint8_t> layout_flags;     // one 0/1 byte per layout bit
    std::vector<std::uint8_t> pair_lengths;     // 3 to 18
    std::vector<std::uint16_t> pair_distances;  // 1 to 4096
    std::vector<std::uint8_t> literals;
    // Room for what the block can produce, min(D, N + 18 x pair_count): the
    // bytes beyond are zeros that write_output supplies without storing them.
    ByteBuffer output;
    std::uint32_t produced = 0; // bytes of output that decode_block wrote
};

// Reads the block at `offset` of the file at `path` into `state`. The whole
// extent of the block is checked against the file before anything of the
// block's size is allocated; a block cut short by the end of the file is
// NotMio0. Inputs that cannot seek are read up to the offset.
DecodeStatus load_block(const char* path, std::uint32_t offset, DecoderState& state);

// The same reader over a file held in memory.
DecodeStatus load_block_from_memory(std::span<const std::uint8_t> file, std::uint64_t offset,
                                    DecoderState& state);

// Fills layout_flags, pair_lengths and pair_distances (already sized from
// the header) from the body, block offsets 16 to L - 1; returns N, the count
// of 1 bits over the whole layout region. An odd last byte of the pairs
// region belongs to no pair.
std::uint32_t unpack_streams(const std::uint8_t* body, std::uint32_t layout_length,
                             std::uint32_t body_length, DecoderState& state);
