#pragma once

// Checking and decoding one block: from memory, from a regular file read in
// pieces, or from a pipe buffered up to the block's extent.

#include <cstddef>
#include <cstdint>
#include <span>

#include "block_input.hpp"
#include "block_walk.hpp"
#include "byte_buffer.hpp"
#include "decode_status.hpp"
#include "mio0_format.hpp"

// What a check learns of a block that decodes.
struct BlockInfo {
    mio0::BlockHeader header; // header.swapped: the storage
    std::uint64_t literal_count = 0;

    // L + N: the block's extent in the input.
    std::uint64_t stored_length() const { return header.literals_offset + literal_count; }
};

// Pieces in which a decoder reads its streams and passes its output on.
// Small pieces exist for tests and fuzzing, which exercise the boundaries.
struct DecodeTuning {
    std::size_t input_piece = std::size_t{128} << 10;
    std::size_t output_piece = std::size_t{256} << 10;
};

// The check, with its buffers kept from one block to the next.
class BlockChecker {
public:
    // Ok exactly when decoding the block at the start of `input` succeeds:
    // see check_block.
    DecodeStatus check(mio0::BlockInput& input, BlockInfo& info);

private:
    mio0::PieceStream layout_;
    mio0::PieceStream pairs_;
};

// Ok exactly when decoding the block at the start of `input` succeeds: the
// header is well formed, the extent L + N lies inside the input, and no
// back-reference reaches before the first output byte. Reads the header,
// counts the layout's 1 bits and walks at most check_layout_bytes of flags
// and check_pairs pairs; nothing is sized by the block's claims.
DecodeStatus check_block(mio0::BlockInput& input, BlockInfo& info);

// The same check on the block at `offset` of a file held in memory.
DecodeStatus check_block(std::span<const std::uint8_t> file, std::uint64_t offset, BlockInfo& info);

// The same check on the block at `offset` of the file at `path`, which may
// be a pipe (read up to the offset and the block's extent).
DecodeStatus check_block_in_file(const char* path, std::uint64_t offset, BlockInfo& info);

// Decodes a block that check_block accepted, passing its output to
// `target` in pieces: the bytes produced, at most D, without the zero tail.
// `produced` tells how many. Fails only when the input cannot be read or
// changed since the check, or the target refuses a piece (WriteFailed).
DecodeStatus decode_checked(mio0::BlockInput& input, const BlockInfo& info, mio0::OutputTarget& target,
                            std::uint32_t& produced, const DecodeTuning& tuning = {});

// Checks and decodes the block at `offset` of a file held in memory;
// `output` receives the bytes produced (the rest of D is zeros).
DecodeStatus decode_block(std::span<const std::uint8_t> file, std::uint64_t offset, ByteBuffer& output,
                          BlockInfo& info, const DecodeTuning& tuning = {});

// The decoding run: the block at `offset` of the file at `path`, written to
// `destination` as exactly D bytes. The block is checked before the
// destination is opened, so a block that fails creates and touches none.
// From a regular file the streams are read in pieces; a pipe, or an input
// that `destination` also names, is first read up to the block's extent.
DecodeStatus decode_file(const char* path, std::uint64_t offset, const char* destination,
                         const DecodeTuning& tuning = {});
