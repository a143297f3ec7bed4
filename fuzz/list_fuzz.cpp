// Arbitrary bytes written to a file and listed through the file-based
// listing, with small pieces and table granules so that their boundaries
// fall everywhere: every listed row must be a block the decoder accepts
// with the same storage, size and extent, and every offset the decoder
// accepts must be listed.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include <unistd.h>

#include "block_scan.hpp"
#include "../tests/decode_helper.hpp"

namespace {

const std::string& scratch_path()
{
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("list_fuzz." + std::to_string(::getpid()))).string();
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string& path = scratch_path();
    std::FILE* out = std::fopen(path.c_str(), "wb");
    if (out == nullptr || std::fwrite(data, 1, size, out) != size || std::fclose(out) != 0)
        std::abort();
    const ScanTuning tuning{size > 0 ? 1 + data[0] % 97u : 1, size > 1 ? 1 + data[1] % 33u : 1};
    CollectedBlocks sink;
    if (scan_file(path.c_str(), sink, tuning) != DecodeStatus::Ok)
        std::abort();
    std::remove(path.c_str());

    const std::span<const std::uint8_t> file(data, size);
    std::size_t next = 0;
    for (std::uint64_t offset = 0; offset < size; ++offset) {
        const Decoded d = decode_at(file, offset);
        const bool listed = next < sink.blocks.size() && sink.blocks[next].offset == offset;
        if (listed != (d.status == DecodeStatus::Ok))
            std::abort();
        if (listed) {
            const FoundBlock& row = sink.blocks[next++];
            if (row.swapped != d.info.header.swapped || row.decompressed_size != d.info.header.decompressed_size ||
                row.stored_length != d.info.stored_length())
                std::abort();
        }
    }
    if (next != sink.blocks.size())
        std::abort();
    return 0;
}
