#pragma once

#include <cstdint>

#include "platform.hpp"

// Why putting a block back into an image ended, one cause a value.
enum class PutBackStatus : std::uint8_t {
    Ok,
    InputOpenFailed,
    InputReadFailed,
    OutOfMemory,
    InputTooLarge,
    ImageUnreadable, // the image cannot be opened, is not a regular file, or fails a read
    NotABlock,       // no block decodes at the offset, in either storage
    DoesNotFit,
    WriteFailed,
    CheckFailed,     // the new content would not decode to the input: an internal fault
};

struct PutBackResult {
    PutBackStatus status = PutBackStatus::Ok;
    std::uint64_t new_length = 0; // DoesNotFit: the new block's length
    std::uint64_t room = 0;       // DoesNotFit: the bytes it may take
};

// Encodes the file at `input_path` and writes the block over the block that
// starts at `offset` of the image, in the old block's storage. The old
// block's extent, its stored length from `offset`, is all that may change:
// the new block, then zeros. The image keeps its size, and it is replaced
// as every destination is, whole or not at all, only after the new content
// has been decoded back to the input's bytes.
PutBackResult put_back(const char* input_path, const char* image_path, std::uint32_t offset);
