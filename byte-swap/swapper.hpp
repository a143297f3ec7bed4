#pragma once

#include <cstdint>
#include <string>

#include "byte_buffer.hpp"
#include "platform.hpp"

// The settings and the data of one run.
//
// When the result goes to standard output, or to the input file itself,
// the whole input is held in `data` from the read until the write is done:
// so an output naming the input converts the file in place, and a read
// error leaves nothing written. Any other output file is written piece by
// piece as the input is read (`streaming`): the pieces stay in the cache,
// no buffer of the file's size is faulted in, and a read error removes the
// output file, so that still nothing is left written.
struct SwapJob {
    std::string input_path;
    bool swap_requested = false; // the flag was exactly "-v"
    bool to_stdout = true;
    std::string output_path;
    ByteBuffer data;             // buffered: exactly the input's bytes
    bool streaming = false;
    InputFile input;             // streaming: the open input
};

// Result codes of read_input_file.
inline constexpr std::uint8_t read_ok = 0;
inline constexpr std::uint8_t read_open_failed = 1;
inline constexpr std::uint8_t read_no_memory = 2;
inline constexpr std::uint8_t read_io_failed = 3;

// Result codes of write_result.
inline constexpr std::uint8_t write_ok = 0;
inline constexpr std::uint8_t write_open_failed = 1;
inline constexpr std::uint8_t write_io_failed = 2;
inline constexpr std::uint8_t write_read_failed = 3; // streaming: the input failed

// Opens the input and, unless the job streams, reads all of it, to its end:
// pipes work, and sizes are 64-bit.
std::uint8_t read_input_file(SwapJob& job);

// Writes the result to the output file or standard output and releases
// the data; a streaming job reads, swaps if requested, and writes its input
// piece by piece here. A failure removes the regular output file that this
// call created or truncated.
std::uint8_t write_result(SwapJob& job);
