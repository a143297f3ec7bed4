#pragma once

// A plain decoder to compare the fast one against: one byte per flag, every
// byte read through the storage rule, no pieces, no windows. Slow and
// obviously right; memory grows with the block's claims, so it is for small
// inputs only.

#include <cstdint>
#include <span>
#include <vector>

#include "decode_status.hpp"
#include "mio0_format.hpp"

struct ReferenceResult {
    DecodeStatus status = DecodeStatus::Ok;
    std::vector<std::uint8_t> produced; // without the zero tail
    bool swapped = false;
    std::uint32_t decompressed_size = 0;
    std::uint64_t stored_length = 0;
};

inline ReferenceResult reference_refusal(DecodeStatus status)
{
    ReferenceResult r;
    r.status = status;
    return r;
}

inline ReferenceResult reference_decode(std::span<const std::uint8_t> file, std::uint64_t offset)
{
    ReferenceResult r;
    const std::uint64_t available = offset < file.size() ? file.size() - offset : 0;
    if (available < 16)
        return reference_refusal(DecodeStatus::HeaderCutShort);
    const std::uint8_t* block = file.data() + offset;
    if (std::equal(mio0::magic.begin(), mio0::magic.end(), block))
        r.swapped = false;
    else if (std::equal(mio0::swapped_magic.begin(), mio0::swapped_magic.end(), block))
        r.swapped = true;
    else
        return reference_refusal(DecodeStatus::BadMagic);
    auto byte = [&](std::uint64_t b) -> std::uint32_t {
        return block[mio0::stored_position(b, available, r.swapped)];
    };
    auto be32 = [&](std::uint64_t b) { return byte(b) << 24 | byte(b + 1) << 16 | byte(b + 2) << 8 | byte(b + 3); };
    r.decompressed_size = be32(4);
    const std::uint64_t p = be32(8);
    const std::uint64_t l = be32(12);
    if (p < 16 || l < p || p - 16 >= (1u << 29))
        return reference_refusal(DecodeStatus::SizesWrap);
    if (l > available)
        return reference_refusal(DecodeStatus::Truncated);

    std::vector<std::uint8_t> flags;
    std::uint64_t ones = 0;
    for (std::uint64_t b = 16; b < p; ++b)
        for (int bit = 7; bit >= 0; --bit) {
            flags.push_back(static_cast<std::uint8_t>((byte(b) >> bit) & 1));
            ones += flags.back();
        }
    if (l + ones > available)
        return reference_refusal(DecodeStatus::Truncated);
    r.stored_length = l + ones;

    std::uint64_t next_pair = 0;
    std::uint64_t next_literal = 0;
    for (const std::uint8_t flag : flags) {
        if (r.produced.size() == r.decompressed_size)
            break;
        if (flag == 1) {
            r.produced.push_back(static_cast<std::uint8_t>(byte(l + next_literal++)));
            continue;
        }
        if (next_pair == (l - p) / 2)
            break;
        const auto word = static_cast<std::uint16_t>(byte(p + 2 * next_pair) << 8 | byte(p + 2 * next_pair + 1));
        ++next_pair;
        const std::size_t distance = mio0::pair_distance(word);
        if (distance > r.produced.size())
            return reference_refusal(DecodeStatus::ReferenceBeforeStart);
        for (unsigned t = 0; t < mio0::pair_length(word) && r.produced.size() < r.decompressed_size; ++t)
            r.produced.push_back(r.produced[r.produced.size() - distance]);
    }
    return r;
}
