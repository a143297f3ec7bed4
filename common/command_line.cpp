#include "command_line.hpp"

namespace {

// The value of one digit in `base` (10 or 16), or -1 when `c` is not one.
int digit_value(char c, unsigned base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::uint32_t> parse_offset(const char* text)
{
    constexpr std::uint64_t max_offset = 0xFFFFFFFFu;
    unsigned base = 10;
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == '\0')
        return std::nullopt; // "" and a bare "0x"
    std::uint64_t value = 0;
    for (; *p != '\0'; ++p) {
        const int digit = digit_value(*p, base);
        if (digit < 0)
            return std::nullopt;
        // Checked at every digit, so the value never grows past 2^36 and
        // any count of leading zeros is taken.
        value = value * base + static_cast<unsigned>(digit);
        if (value > max_offset)
            return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}
