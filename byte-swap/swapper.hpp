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
// piece by piece here. On a failure the output file is left as it was.
SwapStatus write_result(SwapJob& job);
