#include "encoder.hpp"

#include <exception>

#include "block_builder.hpp"
#include "parse_pipeline.hpp"
#include "path_settler.hpp"

EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block, const ParseTuning& tuning)
{
    if (input.size() > max_encode_input)
        return EncodeStatus::TooLarge;
    BlockBuilder builder(block, input.size());
    if (const EncodeStatus status = builder.start(); status != EncodeStatus::Ok)
        return status;
    try {
        PathSettler path(input, builder.tokens(), tuning.settle_span);
        parse_shortest_path(input, tuning, path);
    } catch (const std::exception&) {
        return EncodeStatus::OutOfMemory; // the match finder's tables, the kept edges, the chunk buffers
    }
    return builder.finish();
}
