#pragma once

#include <cstdint>
#include <string>

#include "byte_buffer.hpp"

// The settings and the data of one run. The whole input is held in `data`
// from the read until the write is done, so an output naming the input
// converts the file in place.
struct SwapJob {
    std::string input_path;
    bool swap_requested = false; // the flag was exactly "-v"
    bool to_stdout = true;
    std::string output_path;
    ByteBuffer data;             // exactly the input's bytes
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

// Reads the whole input, to its end: pipes work, and sizes are 64-bit.
std::uint8_t read_input_file(SwapJob& job);

// Writes data to the output file or standard output, then releases it. A
// failed write removes the regular output file this call created or
// truncated.
std::uint8_t write_result(SwapJob& job);
