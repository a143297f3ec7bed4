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

// Opens `path` and reads it whole, as read_to_end does.
InputStatus read_file(const char* path, ByteBuffer& data, std::uint64_t cap);
