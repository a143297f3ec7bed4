#pragma once

#include <cstdint>

// What ended a decoding or listing run, by cause. The entry routine maps
// each to one of the fixed messages.
enum class DecodeStatus : std::uint16_t {
    Ok = 0,
    InputUnopenable,      // missing, unreadable, or a directory
    InputReadFailed,      // an I/O error, or the input changed during the run
    HeaderCutShort,       // fewer than 16 bytes at the offset
    BadMagic,             // neither "MIO0" nor "IM0O"
    SizesWrap,            // P below 16, L below P, or a layout region of 2^29 bytes or more
    Truncated,            // the block's extent runs past the end of the input
    ReferenceBeforeStart, // a back-reference reaching before the first output byte
    OutOfMemory,
    WriteFailed,          // the destination could not be created or written
    NoBlocks,             // a listing found no block
};
