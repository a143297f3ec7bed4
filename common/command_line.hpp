#pragma once

#include <cstdint>
#include <optional>

// Reads the offset argument: decimal digits (leading zeros allowed, "0100"
// is 100), or "0x"/"0X" followed by hexadecimal digits in either case, as
// the listing prints its hex_offset column. Nothing else is taken: no sign,
// no white space, no suffix, and no value above 4294967295. nullopt for
// every refused text, so that a mistyped offset never reads another block.
std::optional<std::uint32_t> parse_offset(const char* text);
