#pragma once

#include <cstddef>
#include <cstdint>

#include "byte_buffer.hpp"
#include "platform.hpp"

// Reads everything from the input's current position to its end into
// `data`, which then holds exactly those bytes. Works on pipes: a regular
// file's size only sizes the first allocation, and the read always goes on
// to the end. More than `cap` bytes give TooLarge as soon as the cap is
// passed, so an input that never ends is not read until memory runs out.
InputStatus read_to_end(InputFile& input, ByteBuffer& data, std::uint64_t cap);

// Reads exactly `length` bytes at `offset` of a regular file: false when
// the file ends first or the read fails.
inline bool read_exactly_at(InputFile& input, std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    return input.read_at(bytes, length, offset) == static_cast<std::int64_t>(length);
}

// Opens `path` and reads it whole, as read_to_end does.
InputStatus read_file(const char* path, ByteBuffer& data, std::uint64_t cap);
