#pragma once

#include <cstdint>

#include "block_reader.hpp"

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::uint32_t produced = 0;
};

// Rebuilds the decompressed bytes into state.output. Decoding ends at the
// first of: D bytes produced, every flag used, a 0 flag with no pair left.
// A back-reference reaching before the first output byte is never followed:
// the block is NotMio0.
DecodeResult decode_block(DecoderState& state);

// Writes exactly D bytes to `destination`: what decode_block produced, then
// zeros. OpenFailed when the destination cannot be opened or any write or
// the close fails; a regular file that this call created or truncated is
// then removed. Releases the working buffers.
DecodeStatus write_output(DecoderState& state, const char* destination);
