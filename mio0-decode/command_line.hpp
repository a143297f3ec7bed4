#pragma once

#include <cstdint>

// Converts decimal text to the 32-bit offset: leading white space skipped,
// one optional sign ("-" negates modulo 2^32), digits up to the first other
// character; no digits gives 0, and a value above 4294967295 saturates to
// 4294967295 whatever its sign. Only decimal is taken: "0x20" is 0.
std::uint32_t parse_offset(const char* text);
