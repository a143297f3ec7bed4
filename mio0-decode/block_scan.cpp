#include "block_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#include "mio0_format.hpp"

namespace {

// A region of a block as the decoder sees it once the region's own read has
// been put back in order: in pair-swapped storage logical byte b is stored
// at b ^ 1, except an odd last byte, which stays where it is.
class Region {
public:
    Region(const std::uint8_t* stored, std::uint64_t length, bool swapped)
        : stored_(stored), length_(length), flip_(swapped ? 1 : 0)
    {
    }
    std::uint8_t operator[](std::uint64_t b) const
    {
        const std::uint64_t at = b ^ flip_;
        return stored_[at < length_ ? at : b];
    }

private:
    const std::uint8_t* stored_;
    std::uint64_t length_;
    std::uint64_t flip_;
};

// Follows the decoder's loop over the flags, counting output positions.
DecodeStatus check_references(const Region& body, const BlockHeader& header)
{
    const std::uint32_t size = header.decompressed_size;
    const std::uint32_t layout = header.layout_length();
    const std::uint32_t pairs = header.pair_count();
    std::uint32_t i = 0;
    std::uint32_t l = 0;
    for (std::uint32_t b = 0; b < layout && i < size; ++b) {
        const unsigned byte = body[b];
        if (byte == 0xFF && size - i >= 8) {
            i += 8;
            continue;
        }
        for (unsigned bit = 0x80; bit != 0 && i < size; bit >>= 1) {
            if ((byte & bit) != 0) {
                ++i;
                continue;
            }
            if (l == pairs)
                return DecodeStatus::Ok;
            const std::uint64_t p = layout + 2 * std::uint64_t{l};
            const auto word = static_cast<std::uint16_t>(body[p] << 8 | body[p + 1]);
            ++l;
            if (mio0::pair_distance(word) > i)
                return DecodeStatus::NotMio0;
            i += std::min<std::uint32_t>(mio0::pair_length(word), size - i);
        }
    }
    return DecodeStatus::Ok;
}

} // namespace

DecodeStatus check_block(std::span<const std::uint8_t> file, std::uint64_t offset, FoundBlock& found)
{
    if (offset > file.size() || file.size() - offset < mio0::header_size)
        return DecodeStatus::NotMio0;
    const std::uint8_t* const block = file.data() + offset;
    const std::uint64_t available = file.size() - offset;
    BlockHeader header;
    if (const DecodeStatus status = check_header(block, header); status != DecodeStatus::Ok)
        return status;
    if (available - mio0::header_size < header.body_length())
        return DecodeStatus::NotMio0;

    const Region body(block + mio0::header_size, header.body_length(), header.swapped);
    std::uint64_t literal_count = 0;
    if (header.swapped) {
        for (std::uint32_t b = 0; b < header.layout_length(); ++b)
            literal_count += static_cast<unsigned>(std::popcount(body[b]));
    } else {
        const std::uint8_t* layout = block + mio0::header_size;
        for (std::uint32_t b = 0; b < header.layout_length(); ++b)
            literal_count += static_cast<unsigned>(std::popcount(layout[b]));
    }
    if (available - header.literals_offset < literal_count)
        return DecodeStatus::NotMio0;
    if (const DecodeStatus status = check_references(body, header); status != DecodeStatus::Ok)
        return status;

    found.offset = offset;
    found.swapped = header.swapped;
    found.decompressed_size = header.decompressed_size;
    found.stored_length = header.literals_offset + literal_count;
    return DecodeStatus::Ok;
}

std::vector<FoundBlock> find_blocks(std::span<const std::uint8_t> file)
{
    // Both magics hold an 'M': "MIO0" at the block's first byte, "IM0O" at
    // its second. One byte cannot be both, so each 'M' names at most one
    // candidate, and candidates come out in increasing order.
    constexpr std::uint64_t last_offset = 0xFFFFFFFFu;
    std::vector<FoundBlock> blocks;
    const std::uint8_t* const begin = file.data();
    const std::uint8_t* const end = begin + file.size();
    for (const std::uint8_t* p = begin; p < end;) {
        const void* hit = std::memchr(p, 'M', static_cast<std::size_t>(end - p));
        if (hit == nullptr)
            break;
        const auto* m = static_cast<const std::uint8_t*>(hit);
        p = m + 1;
        std::uint64_t offset = static_cast<std::uint64_t>(m - begin);
        if (end - m >= 4 && std::memcmp(m, mio0::magic.data(), 4) == 0) {
            // offset names the 'M' of "MIO0"
        } else if (m > begin && end - m >= 3 && std::memcmp(m - 1, mio0::swapped_magic.data(), 4) == 0) {
            --offset;
        } else {
            continue;
        }
        if (offset > last_offset)
            break;
        FoundBlock found;
        if (check_block(file, offset, found) == DecodeStatus::Ok)
            blocks.push_back(found);
    }
    return blocks;
}

std::string format_listing(const std::vector<FoundBlock>& blocks)
{
    std::string text = "offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n";
    char line[128];
    for (const FoundBlock& block : blocks) {
        const int length = std::snprintf(line, sizeof line, "%llu\t0x%08llX\t%s\t%lu\t%llu\n",
                                         static_cast<unsigned long long>(block.offset),
                                         static_cast<unsigned long long>(block.offset),
                                         block.swapped ? "IM0O" : "MIO0",
                                         static_cast<unsigned long>(block.decompressed_size),
                                         static_cast<unsigned long long>(block.stored_length));
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}
