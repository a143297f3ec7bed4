#include "byte_pairs.hpp"

#include <cstring>

void swap_byte_pairs(std::uint8_t* bytes, std::size_t length)
{
    // 16-bit loads and stores through memcpy carry no alignment or aliasing
    // assumption, and the compiler turns this loop into vector shuffles.
    const std::size_t pairs = length / 2;
    for (std::size_t k = 0; k < pairs; ++k) {
        std::uint16_t word;
        std::memcpy(&word, bytes + 2 * k, 2);
        word = static_cast<std::uint16_t>((word << 8) | (word >> 8));
        std::memcpy(bytes + 2 * k, &word, 2);
    }
}
