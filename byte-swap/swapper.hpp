#pragma once

#include <cstdint>
#include <string>

#include "byte_buffer.hpp"
#include "platform.hpp"

// The settings and the data of one run.
//
// An output file is written piece by piece as the input is read
// (`streaming`): the pieces stay in the cache and no buffer of the file's
// size is faulted in. The pieces go to a new file that replaces the output
// only once every byte is written, so an OutFile naming InFile converts it
// in place, and a read or write error leaves the output as it was. When
// the result goes to standard output, which cannot be taken back, the
// whole input is held in `data` from the read until the write is done, so
// that a read error writes nothing.
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
// piece by piece here. On a failure the output file is left as it was.
std::uint8_t write_result(SwapJob& job);
