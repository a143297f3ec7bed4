#include "block_builder.hpp"

#include <cstring>

namespace {

// One flag per token, 32 to a word; at most one token a byte.
std::size_t layout_room(std::size_t input_size) { return (input_size + 31) / 32 * 4; }

// Every pair covers at least 3 bytes.
std::size_t pairs_room(std::size_t input_size) { return input_size / mio0::min_match * 2; }

} // namespace

EncodeStatus BlockBuilder::start()
{
    const std::size_t pairs_at = mio0::header_size + layout_room(input_size_);
    if (!block_.resize(pairs_at + pairs_room(input_size_)) || !literals_.resize(input_size_))
        return EncodeStatus::OutOfMemory;
    tokens_ = TokenStreams(block_.data() + mio0::header_size, block_.data() + pairs_at, literals_.data());
    return EncodeStatus::Ok;
}

EncodeStatus BlockBuilder::finish()
{
    tokens_.finish();
    const std::uint64_t layout_bytes = (tokens_.tokens() + 31) / 32 * 4;
    if (layout_bytes > mio0::max_layout_bytes)
        return EncodeStatus::TooLarge;
    const std::uint64_t pairs_offset = mio0::header_size + layout_bytes;
    const std::uint64_t literals_offset = pairs_offset + 2 * tokens_.pairs();
    if (literals_offset > 0xFFFFFFFFu || input_size_ > 0xFFFFFFFFu)
        return EncodeStatus::TooLarge;

    const std::size_t pairs_at = mio0::header_size + layout_room(input_size_);
    std::memmove(block_.data() + pairs_offset, block_.data() + pairs_at, static_cast<std::size_t>(2 * tokens_.pairs()));
    if (!block_.resize(static_cast<std::size_t>(literals_offset + tokens_.literals())))
        return EncodeStatus::OutOfMemory;
    if (tokens_.literals() != 0)
        std::memcpy(block_.data() + literals_offset, literals_.data(), static_cast<std::size_t>(tokens_.literals()));

    mio0::write_header(block_.data(), {false, static_cast<std::uint32_t>(input_size_),
                                       static_cast<std::uint32_t>(pairs_offset),
                                       static_cast<std::uint32_t>(literals_offset)});
    return EncodeStatus::Ok;
}
