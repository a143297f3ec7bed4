// Arbitrary bytes as a file, and the same file swapped whole: at offset 0
// and at every offset that holds a magic, the fast decoder must give the
// plain reference decoder's status and bytes, with the streams read in
// small pieces as well as in large ones, and the in-memory listing must
// list exactly the offsets that decode.

#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "block_scan.hpp"
#include "byte_pairs.hpp"
#include "../tests/decode_helper.hpp"
#include "../tests/reference_decoder.hpp"

namespace {

void check_file(std::span<const std::uint8_t> file, const DecodeTuning& small)
{
    std::vector<std::uint64_t> decodable;
    for (std::uint64_t offset = 0; offset < file.size() || offset == 0; ++offset) {
        const bool candidate = offset + 4 <= file.size() && (file[offset] == 'M' || file[offset] == 'I');
        if (offset != 0 && !candidate)
            continue;
        const ReferenceResult ref = reference_decode(file, offset);
        for (const DecodeTuning& tuning : {DecodeTuning{}, small}) {
            const Decoded d = decode_at(file, offset, tuning);
            if (d.status != ref.status || d.produced != ref.produced)
                std::abort();
            if (d.status == DecodeStatus::Ok &&
                (d.info.stored_length() != ref.stored_length || d.info.header.swapped != ref.swapped))
                std::abort();
        }
        if (ref.status == DecodeStatus::Ok && candidate)
            decodable.push_back(offset);
        if (file.empty())
            break;
    }
    std::vector<std::uint64_t> listed;
    for (const FoundBlock& block : find_blocks(file, {64, 16}))
        listed.push_back(block.offset);
    if (listed != decodable)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    DecodeTuning small;
    small.input_piece = 64 + (size > 0 ? data[size - 1] % 64u : 0u);
    small.output_piece = 1 + (size > 1 ? data[size - 2] : 0u);
    check_file({data, size}, small);
    std::vector<std::uint8_t> swapped(data, data + size);
    swap_byte_pairs(swapped.data(), swapped.size());
    check_file(swapped, small);
    return 0;
}
