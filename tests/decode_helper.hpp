#pragma once

// "Check, then decode" a block held in memory, for tests and fuzz targets.

#include <cstdint>
#include <span>
#include <vector>

#include "block_decoder.hpp"
#include "block_scan.hpp"

struct Decoded {
    DecodeStatus status = DecodeStatus::Ok;
    std::vector<std::uint8_t> produced; // without the zero tail
    BlockInfo info;
};

inline Decoded decode_at(std::span<const std::uint8_t> file, std::uint64_t offset, const DecodeTuning& tuning = {})
{
    Decoded d;
    ByteBuffer output;
    d.status = decode_block(file, offset, output, d.info, tuning);
    if (d.status == DecodeStatus::Ok)
        d.produced.assign(output.data(), output.data() + output.size());
    return d;
}

// A listing's rows, kept in order of offset.
class CollectedBlocks final : public ListingSink {
public:
    bool found(const FoundBlock& block) override
    {
        blocks.push_back(block);
        return true;
    }
    std::vector<FoundBlock> blocks;
};
