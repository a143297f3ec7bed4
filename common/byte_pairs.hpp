#pragma once

#include <cstddef>
#include <cstdint>

// Exchanges bytes 0 and 1, 2 and 3, and so on, in place. With an odd length
// the last byte stays where it is; applying it twice restores the input.
void swap_byte_pairs(std::uint8_t* bytes, std::size_t length);
