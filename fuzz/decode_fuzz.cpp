// Arbitrary bytes as a file: the in-memory reader and the decoder must
// never read or write out of bounds, must produce at most D bytes, and the
// block finder's verdict must equal the decoder's at every candidate.

#include <cstdint>
#include <cstdlib>
#include <span>

#include "block_reader.hpp"
#include "block_scan.hpp"
#include "decompress.hpp"

namespace {

bool decodes_at(std::span<const std::uint8_t> file, std::uint64_t offset, std::uint32_t& size)
{
    DecoderState state;
    if (load_block_from_memory(file, offset, state) != DecodeStatus::Ok)
        return false;
    const DecodeResult result = decode_block(state);
    if (result.produced > state.decompressed_size || result.produced > state.output.size())
        std::abort();
    size = state.decompressed_size;
    return result.status == DecodeStatus::Ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::span<const std::uint8_t> file(data, size);
    // Offset 0 always, and every offset that holds a magic.
    for (std::uint64_t offset = 0; offset < size || offset == 0; ++offset) {
        const bool candidate = offset + 4 <= size && (data[offset] == 'M' || data[offset] == 'I');
        if (offset != 0 && !candidate)
            continue;
        std::uint32_t decoded_size = 0;
        const bool decodes = decodes_at(file, offset, decoded_size);
        FoundBlock found;
        const bool listed = check_block(file, offset, found) == DecodeStatus::Ok;
        if (decodes != listed || (listed && found.decompressed_size != decoded_size))
            std::abort();
        if (size == 0)
            break;
    }
    return 0;
}
