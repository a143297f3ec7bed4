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

// What a stage of the job reports: success, or the cause of its failure.
enum class SwapStatus : std::uint8_t {
    Ok,
    InputOpenFailed,   // missing, unreadable, or a directory
    OutOfMemory,       // no buffer to read the input into, whole or a piece
    InputReadFailed,   // an I/O error while reading the input
    OutputOpenFailed,  // the output file cannot be created or truncated
    OutputWriteFailed, // a write to the output, or its close, failed
};

// Opens the input and, unless the job streams, reads all of it, to its end:
// pipes work, and sizes are 64-bit.
SwapStatus read_input_file(SwapJob& job);

// Writes the result to the output file or standard output and releases
// the data; a streaming job reads, swaps if requested, and writes its input
// piece by piece here. A failure removes the regular output file that this
// call created or truncated.
SwapStatus write_result(SwapJob& job);
