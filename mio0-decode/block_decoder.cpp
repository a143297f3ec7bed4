#include "block_decoder.hpp"

#include <algorithm>
#include <cstring>

#include "platform.hpp"

namespace {

using mio0::BlockInput;
using mio0::PieceStream;

DecodeStatus status_of(mio0::HeaderStatus status)
{
    switch (status) {
    case mio0::HeaderStatus::Ok:
        break;
    case mio0::HeaderStatus::BadMagic:
        return DecodeStatus::BadMagic;
    case mio0::HeaderStatus::SizesWrap:
        return DecodeStatus::SizesWrap;
    }
    return DecodeStatus::Ok;
}

// Reads the header and the extent: what needs no walk.
DecodeStatus check_extent(BlockInput& input, BlockInfo& info)
{
    if (input.available() < mio0::header_size)
        return DecodeStatus::HeaderCutShort;
    std::uint8_t stored[mio0::header_size];
    if (!input.read_stored(0, stored, sizeof stored))
        return DecodeStatus::InputReadFailed;
    if (const DecodeStatus status = status_of(mio0::parse_header(stored, info.header)); status != DecodeStatus::Ok)
        return status;
    const mio0::BlockHeader& header = info.header;
    if (header.literals_offset > input.available())
        return DecodeStatus::Truncated;
    if (!input.count_ones(mio0::header_size, header.pairs_offset, header.swapped, info.literal_count))
        return DecodeStatus::InputReadFailed;
    if (input.available() - header.literals_offset < info.literal_count)
        return DecodeStatus::Truncated;
    return DecodeStatus::Ok;
}

DecodeStatus check_walk(BlockInput& input, const mio0::BlockHeader& header, PieceStream& layout, PieceStream& pairs)
{
    const std::uint32_t pair_count = std::min(header.pair_count(), mio0::check_pairs);
    if (!layout.reset(input, header.swapped, mio0::header_size,
                      std::min(header.layout_length(), mio0::check_layout_bytes), mio0::check_layout_bytes) ||
        !pairs.reset(input, header.swapped, header.pairs_offset, 2 * std::uint64_t{pair_count},
                     2 * mio0::check_pairs))
        return DecodeStatus::OutOfMemory;
    mio0::CountSink sink;
    std::uint32_t produced = 0;
    switch (mio0::walk_block(layout, pairs, pair_count,
                             std::min(header.decompressed_size, mio0::check_horizon), sink, produced)) {
    case mio0::WalkEnd::Done:
        return DecodeStatus::Ok;
    case mio0::WalkEnd::BadReference:
        return DecodeStatus::ReferenceBeforeStart;
    case mio0::WalkEnd::ReadFailed:
    case mio0::WalkEnd::SinkFailed:
        break;
    }
    return DecodeStatus::InputReadFailed;
}

// Collects the output in memory.
class BufferTarget final : public mio0::OutputTarget {
public:
    explicit BufferTarget(ByteBuffer& buffer) : buffer_(buffer) { buffer_.release(); }
    bool take(const std::uint8_t* bytes, std::size_t length) override
    {
        if (buffer_.size() - used_ < length) {
            const std::size_t grown = std::max(used_ + length, 2 * buffer_.size());
            if (!buffer_.resize(grown))
                return false;
        }
        std::memcpy(buffer_.data() + used_, bytes, length);
        used_ += length;
        return true;
    }
    bool trim() { return buffer_.resize(used_); }

private:
    ByteBuffer& buffer_;
    std::size_t used_ = 0;
};

class FileTarget final : public mio0::OutputTarget {
public:
    explicit FileTarget(OutputFile& file) : file_(file) {}
    bool take(const std::uint8_t* bytes, std::size_t length) override { return file_.write(bytes, length); }

private:
    OutputFile& file_;
};

// Writes the checked block to `destination`: the bytes produced, then zeros
// up to D. A failure discards the destination.
// `source`, when given, is closed once the block is decoded and before the
// result replaces the destination: some systems refuse to replace a file
// that is open, and the destination may be the input itself.
DecodeStatus write_block(BlockInput& input, const BlockInfo& info, const char* destination,
                         const DecodeTuning& tuning, InputFile* source = nullptr)
{
    OutputFile file;
    if (!file.open(destination))
        return DecodeStatus::WriteFailed;
    FileTarget target(file);
    std::uint32_t produced = 0;
    if (const DecodeStatus status = decode_checked(input, info, target, produced, tuning);
        status != DecodeStatus::Ok) {
        file.discard();
        return status;
    }
    if (source != nullptr)
        source->close();
    if (!file.write_zeros(std::uint64_t{info.header.decompressed_size} - produced) || !file.finish())
        return DecodeStatus::WriteFailed;
    return DecodeStatus::Ok;
}

// An input read from its current position on, without seeking: a pipe, or
// a device.
class Sequential {
public:
    explicit Sequential(InputFile& input) : input_(input) {}

    // Makes `held` hold at least `want` bytes of the input, or all of it
    // when it ends first. It grows only as bytes arrive, so a header's
    // claim is never allocated before its bytes are there.
    bool hold(std::uint64_t want)
    {
        while (held_ < want && !ended_) {
            const std::uint64_t target = std::min(want, std::max<std::uint64_t>(2 * held_, growth_step));
            if (target > SIZE_MAX || (buffer_.size() < target && !buffer_.resize(static_cast<std::size_t>(target)))) {
                out_of_memory_ = true;
                return false;
            }
            const std::int64_t got = input_.read(buffer_.data() + held_, static_cast<std::size_t>(target - held_));
            if (got < 0) {
                read_failed_ = true;
                return false;
            }
            held_ += static_cast<std::uint64_t>(got);
            ended_ = held_ < target; // a read stops short only at the end
        }
        return true;
    }

    std::uint64_t held() const { return held_; }
    std::span<const std::uint8_t> bytes() const { return {buffer_.data(), static_cast<std::size_t>(held_)}; }
    DecodeStatus failure() const
    {
        return out_of_memory_ ? DecodeStatus::OutOfMemory : DecodeStatus::InputReadFailed;
    }

private:
    static constexpr std::uint64_t growth_step = std::uint64_t{1} << 20;
    InputFile& input_;
    ByteBuffer buffer_;
    std::uint64_t held_ = 0;
    bool ended_ = false;
    bool read_failed_ = false;
    bool out_of_memory_ = false;
};

// Reaches `offset` of an input that is not a regular file.
DecodeStatus reach_offset(InputFile& input, std::uint64_t offset)
{
    switch (input.seek(offset)) {
    case SeekResult::Done:
        return DecodeStatus::Ok;
    case SeekResult::Failed:
        return DecodeStatus::InputReadFailed;
    case SeekResult::Unseekable:
        break;
    }
    std::uint8_t scratch[std::size_t{1} << 16];
    for (std::uint64_t skip = offset; skip > 0;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(skip, sizeof scratch));
        const std::int64_t got = input.read(scratch, piece);
        if (got < 0)
            return DecodeStatus::InputReadFailed;
        if (static_cast<std::size_t>(got) < piece)
            return DecodeStatus::HeaderCutShort;
        skip -= piece;
    }
    return DecodeStatus::Ok;
}

// Reads the block at the input's position into `held`: up to its extent,
// and one byte more in pair-swapped storage, the partner of an odd last
// byte, when the input has it. Then checks it.
DecodeStatus hold_block(Sequential& held, BlockInfo& info)
{
    if (!held.hold(mio0::header_size))
        return held.failure();
    if (held.held() < mio0::header_size)
        return DecodeStatus::HeaderCutShort;
    if (const DecodeStatus status = status_of(mio0::parse_header(held.bytes().data(), info.header));
        status != DecodeStatus::Ok)
        return status;
    const std::uint64_t partner = info.header.swapped ? 1 : 0;
    const std::uint64_t literals_at = info.header.literals_offset;
    if (!held.hold(literals_at + partner))
        return held.failure();
    if (held.held() < literals_at)
        return DecodeStatus::Truncated;
    {
        mio0::MemoryInput input(held.bytes());
        if (!input.count_ones(mio0::header_size, info.header.pairs_offset, info.header.swapped, info.literal_count))
            return DecodeStatus::OutOfMemory;
    }
    if (!held.hold(info.stored_length() + partner))
        return held.failure();
    if (held.held() < info.stored_length())
        return DecodeStatus::Truncated;
    mio0::MemoryInput input(held.bytes());
    return check_block(input, info);
}

} // namespace

DecodeStatus BlockChecker::check(BlockInput& input, BlockInfo& info)
{
    if (const DecodeStatus status = check_extent(input, info); status != DecodeStatus::Ok)
        return status;
    return check_walk(input, info.header, layout_, pairs_);
}

DecodeStatus check_block(BlockInput& input, BlockInfo& info)
{
    BlockChecker checker;
    return checker.check(input, info);
}

DecodeStatus check_block(std::span<const std::uint8_t> file, std::uint64_t offset, BlockInfo& info)
{
    mio0::MemoryInput input(offset < file.size() ? file.subspan(static_cast<std::size_t>(offset))
                                                 : std::span<const std::uint8_t>{});
    return check_block(input, info);
}

DecodeStatus check_block_in_file(const char* path, std::uint64_t offset, BlockInfo& info)
{
    InputFile input;
    if (!input.open(path))
        return DecodeStatus::InputUnopenable;
    if (const std::int64_t size = input.regular_size(); size >= 0) {
        mio0::FileInput block(input, offset, static_cast<std::uint64_t>(size));
        return check_block(block, info);
    }
    if (const DecodeStatus status = reach_offset(input, offset); status != DecodeStatus::Ok)
        return status;
    Sequential held(input);
    return hold_block(held, info);
}

DecodeStatus decode_checked(BlockInput& input, const BlockInfo& info, mio0::OutputTarget& target,
                            std::uint32_t& produced, const DecodeTuning& tuning)
{
    const mio0::BlockHeader& header = info.header;
    PieceStream layout;
    PieceStream pairs;
    PieceStream literals;
    mio0::CopySink sink(literals, target);
    if (!layout.reset(input, header.swapped, mio0::header_size, header.layout_length(), tuning.input_piece) ||
        !pairs.reset(input, header.swapped, header.pairs_offset, 2 * std::uint64_t{header.pair_count()},
                     tuning.input_piece) ||
        !literals.reset(input, header.swapped, header.literals_offset, info.literal_count, tuning.input_piece) ||
        !sink.reset(tuning.output_piece))
        return DecodeStatus::OutOfMemory;
    switch (mio0::walk_block(layout, pairs, header.pair_count(), header.decompressed_size, sink, produced)) {
    case mio0::WalkEnd::Done:
        return sink.finish() ? DecodeStatus::Ok : DecodeStatus::WriteFailed;
    case mio0::WalkEnd::BadReference:
        return DecodeStatus::ReferenceBeforeStart; // the input changed since the check
    case mio0::WalkEnd::ReadFailed:
        return DecodeStatus::InputReadFailed;
    case mio0::WalkEnd::SinkFailed:
        break;
    }
    return sink.failed_read() ? DecodeStatus::InputReadFailed : DecodeStatus::WriteFailed;
}

DecodeStatus decode_block(std::span<const std::uint8_t> file, std::uint64_t offset, ByteBuffer& output,
                          BlockInfo& info, const DecodeTuning& tuning)
{
    mio0::MemoryInput input(offset < file.size() ? file.subspan(static_cast<std::size_t>(offset))
                                                 : std::span<const std::uint8_t>{});
    output.release();
    if (const DecodeStatus status = check_block(input, info); status != DecodeStatus::Ok)
        return status;
    BufferTarget target(output);
    std::uint32_t produced = 0;
    const DecodeStatus status = decode_checked(input, info, target, produced, tuning);
    if (status == DecodeStatus::WriteFailed)
        return DecodeStatus::OutOfMemory; // the buffer could not grow
    if (status != DecodeStatus::Ok || !target.trim())
        return status == DecodeStatus::Ok ? DecodeStatus::OutOfMemory : status;
    return DecodeStatus::Ok;
}

DecodeStatus decode_file(const char* path, std::uint64_t offset, const char* destination, const DecodeTuning& tuning)
{
    InputFile input;
    if (!input.open(path))
        return DecodeStatus::InputUnopenable;
    BlockInfo info;
    const std::int64_t size = input.regular_size();
    if (size >= 0) {
        // A destination that names the input is safe here too: the result
        // goes to a new file that replaces the input only once complete.
        mio0::FileInput block(input, offset, static_cast<std::uint64_t>(size));
        if (const DecodeStatus status = check_block(block, info); status != DecodeStatus::Ok)
            return status;
        return write_block(block, info, destination, tuning, &input);
    }

    // A pipe cannot be read twice: the block is held in memory, up to its
    // extent, while it is checked and then decoded.
    Sequential held(input);
    if (const DecodeStatus status = reach_offset(input, offset); status != DecodeStatus::Ok)
        return status;
    if (const DecodeStatus status = hold_block(held, info); status != DecodeStatus::Ok)
        return status;
    input.close();
    mio0::MemoryInput block(held.bytes());
    return write_block(block, info, destination, tuning);
}
