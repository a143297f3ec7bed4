// Arbitrary bytes: encode, decode in both storages, compare. The bytes are
// also parsed in small chunks by the pipeline that large inputs take, which
// must give the very same block.

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <span>

#include "byte_pairs.hpp"
#include "encoder.hpp"
#include "../tests/decode_helper.hpp"

namespace {

void expect_decodes_to(std::span<const std::uint8_t> block, const std::uint8_t* data, std::size_t size)
{
    const Decoded d = decode_at(block, 0);
    if (d.status != DecodeStatus::Ok || d.produced.size() != size || d.info.header.decompressed_size != size)
        std::abort();
    if (size > 0 && std::memcmp(d.produced.data(), data, size) != 0)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ByteBuffer block;
    if (encode_block({data, size}, block) != EncodeStatus::Ok)
        std::abort();
    if (size >= 1024) {
        ParseTuning chunked;
        chunked.chunk_size = size / 3; // three chunks and a little
        chunked.guess_lead = size % 97; // often too short, so that guesses fail
        chunked.settle_span = 64;
        ByteBuffer again;
        if (encode_block({data, size}, again, chunked) != EncodeStatus::Ok || again.size() != block.size() ||
            std::memcmp(again.data(), block.data(), block.size()) != 0)
            std::abort();
    }
    expect_decodes_to({block.data(), block.size()}, data, size);
    swap_byte_pairs(block.data(), block.size());
    expect_decodes_to({block.data(), block.size()}, data, size);
    return 0;
}
