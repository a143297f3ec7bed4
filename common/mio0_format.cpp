#include "mio0_format.hpp"

#include <algorithm>
#include <cstring>

#include "byte_pairs.hpp"

namespace mio0 {

HeaderStatus parse_header(const std::uint8_t* stored, BlockHeader& header)
{
    std::uint8_t bytes[header_size];
    std::memcpy(bytes, stored, sizeof bytes);
    if (std::equal(magic.begin(), magic.end(), bytes)) {
        header.swapped = false;
    } else if (std::equal(swapped_magic.begin(), swapped_magic.end(), bytes)) {
        header.swapped = true;
        swap_byte_pairs(bytes, sizeof bytes);
    } else {
        return HeaderStatus::BadMagic;
    }
    header.decompressed_size = read_be32(bytes, 4);
    header.pairs_offset = read_be32(bytes, 8);
    header.literals_offset = read_be32(bytes, 12);
    if (header.pairs_offset < header_size || header.literals_offset < header.pairs_offset ||
        header.pairs_offset - header_size > max_layout_bytes)
        return HeaderStatus::SizesWrap;
    return HeaderStatus::Ok;
}

void write_header(std::uint8_t* stored, const BlockHeader& header)
{
    std::memcpy(stored, magic.data(), magic.size());
    write_be32(stored + 4, header.decompressed_size);
    write_be32(stored + 8, header.pairs_offset);
    write_be32(stored + 12, header.literals_offset);
    if (header.swapped)
        swap_byte_pairs(stored, header_size);
}

void place_block_bytes(std::span<std::uint8_t> image, std::uint64_t first, std::span<const std::uint8_t> block,
                       bool swapped)
{
    for (std::size_t k = 0; k < block.size(); ++k)
        image[static_cast<std::size_t>(stored_position(first + k, image.size(), swapped))] = block[k];
}

} // namespace mio0
