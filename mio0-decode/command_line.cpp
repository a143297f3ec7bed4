#include "command_line.hpp"

std::uint32_t parse_offset(const char* text)
{
    constexpr std::uint64_t max_offset = 0xFFFFFFFFu;
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-')
        negative = *p++ == '-';
    std::uint64_t value = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10 + static_cast<std::uint64_t>(*p - '0');
        if (value > max_offset)
            return static_cast<std::uint32_t>(max_offset);
    }
    const auto magnitude = static_cast<std::uint32_t>(value);
    return negative ? static_cast<std::uint32_t>(0u - magnitude) : magnitude;
}
