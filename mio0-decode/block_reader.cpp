#include "block_reader.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <exception>

#include "byte_pairs.hpp"
#include "file_io.hpp"
#include "mio0_format.hpp"

namespace {

// Where the bytes of a block come from: a file descriptor or memory.
class BlockSource {
public:
    virtual ~BlockSource() = default;
    // Copies up to `length` next bytes; fewer only at the end. -1: I/O error.
    virtual std::int64_t read(std::uint8_t* bytes, std::size_t length) = 0;
    // Bytes left, or -1 when the source cannot tell (a pipe).
    virtual std::int64_t remaining() const = 0;
};

class MemorySource final : public BlockSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::int64_t read(std::uint8_t* bytes, std::size_t length) override
    {
        const std::size_t count = std::min(length, bytes_.size());
        if (count > 0)
            std::memcpy(bytes, bytes_.data(), count);
        bytes_ = bytes_.subspan(count);
        return static_cast<std::int64_t>(count);
    }
    std::int64_t remaining() const override { return static_cast<std::int64_t>(bytes_.size()); }

private:
    std::span<const std::uint8_t> bytes_;
};

class FileSource final : public BlockSource {
public:
    FileSource(InputFile& input, std::int64_t remaining) : input_(input), remaining_(remaining) {}
    std::int64_t read(std::uint8_t* bytes, std::size_t length) override
    {
        // A regular file is never read past the size it had when opened.
        if (remaining_ >= 0)
            length = static_cast<std::size_t>(std::min<std::int64_t>(remaining_, static_cast<std::int64_t>(length)));
        const std::int64_t got = input_.read(bytes, length);
        if (got > 0 && remaining_ >= 0)
            remaining_ = std::max<std::int64_t>(0, remaining_ - got);
        return got;
    }
    std::int64_t remaining() const override { return remaining_; }

private:
    InputFile& input_;
    std::int64_t remaining_;
};

// Pieces in which a region of unknown availability is read, so that a
// header's claim is never allocated before the bytes have arrived.
constexpr std::size_t growth_step = std::size_t{1} << 20;

// Reads exactly `length` bytes into `region`. NotMio0 when the source ends
// first, OpenFailed on an I/O error.
DecodeStatus read_region(BlockSource& source, std::size_t length, std::vector<std::uint8_t>& region)
{
    const std::int64_t left = source.remaining();
    if (left >= 0 && static_cast<std::uint64_t>(left) < length)
        return DecodeStatus::NotMio0;
    std::size_t done = 0;
    while (done < length) {
        const std::size_t step = left >= 0 ? length : std::max(done, growth_step);
        region.resize(std::min(length, done + step));
        const std::int64_t got = source.read(region.data() + done, region.size() - done);
        if (got < 0)
            return DecodeStatus::OpenFailed;
        done += static_cast<std::size_t>(got);
        if (done < region.size())
            return DecodeStatus::NotMio0;
    }
    region.resize(length);
    return DecodeStatus::Ok;
}

DecodeStatus load_from(BlockSource& source, DecoderState& state)
{
    std::uint8_t stored[mio0::header_size];
    const std::int64_t got = source.read(stored, sizeof stored);
    if (got < 0)
        return DecodeStatus::OpenFailed;
    if (got < static_cast<std::int64_t>(sizeof stored))
        return DecodeStatus::NotMio0;
    BlockHeader header;
    if (const DecodeStatus status = check_header(stored, header); status != DecodeStatus::Ok)
        return status;

    state.swapped = header.swapped;
    state.decompressed_size = header.decompressed_size;
    state.flag_count = header.flag_count();
    state.pair_count = header.pair_count();

    // Each of the three reads of a pair-swapped block is put back in order
    // from its own first byte, as a reader that swaps every read would.
    try {
        std::vector<std::uint8_t> body;
        if (const DecodeStatus status = read_region(source, header.body_length(), body);
            status != DecodeStatus::Ok)
            return status;
        if (header.swapped)
            swap_byte_pairs(body.data(), body.size());

        state.layout_flags.resize(state.flag_count);
        state.pair_lengths.resize(state.pair_count);
        state.pair_distances.resize(state.pair_count);
        state.literal_count =
            unpack_streams(body.data(), header.layout_length(), header.body_length(), state);
        body = {};

        if (const DecodeStatus status = read_region(source, state.literal_count, state.literals);
            status != DecodeStatus::Ok)
            return status;
        if (header.swapped)
            swap_byte_pairs(state.literals.data(), state.literals.size());
    } catch (const std::exception&) {
        return DecodeStatus::OutOfMemory;
    }

    // Every literal yields at most one byte and every pair at most 18.
    const std::uint64_t reachable = std::uint64_t{state.literal_count} +
                                    std::uint64_t{mio0::max_match} * state.pair_count;
    const std::uint64_t room = std::min<std::uint64_t>(state.decompressed_size, reachable);
    if (!state.output.resize(static_cast<std::size_t>(room)))
        return DecodeStatus::OutOfMemory;
    state.produced = 0;
    return DecodeStatus::Ok;
}

} // namespace

DecodeStatus check_header(const std::uint8_t* stored, BlockHeader& header)
{
    std::uint8_t bytes[mio0::header_size];
    std::memcpy(bytes, stored, sizeof bytes);
    if (std::equal(mio0::magic.begin(), mio0::magic.end(), bytes)) {
        header.swapped = false;
    } else if (std::equal(mio0::swapped_magic.begin(), mio0::swapped_magic.end(), bytes)) {
        header.swapped = true;
        swap_byte_pairs(bytes, sizeof bytes);
    } else {
        return DecodeStatus::NotMio0;
    }
    header.decompressed_size = mio0::read_be32(bytes, 4);
    header.pairs_offset = mio0::read_be32(bytes, 8);
    header.literals_offset = mio0::read_be32(bytes, 12);
    if (header.pairs_offset < mio0::header_size || header.literals_offset < header.pairs_offset ||
        header.pairs_offset - mio0::header_size > mio0::max_layout_bytes)
        return DecodeStatus::OutOfMemory;
    return DecodeStatus::Ok;
}

std::uint32_t unpack_streams(const std::uint8_t* body, std::uint32_t layout_length,
                             std::uint32_t body_length, DecoderState& state)
{
    std::uint32_t ones = 0;
    std::uint8_t* flags = state.layout_flags.data();
    for (std::uint32_t i = 0; i < layout_length; ++i) {
        const unsigned byte = body[i];
        ones += static_cast<std::uint32_t>(std::popcount(byte));
        for (unsigned j = 0; j < 8; ++j)
            flags[8 * std::size_t{i} + j] = static_cast<std::uint8_t>((byte >> (7 - j)) & 1u);
    }
    const std::uint32_t pairs = (body_length - layout_length) / 2;
    for (std::uint32_t k = 0; k < pairs; ++k) {
        const std::size_t p = layout_length + 2 * std::size_t{k};
        const auto word = static_cast<std::uint16_t>(body[p] << 8 | body[p + 1]);
        state.pair_lengths[k] = static_cast<std::uint8_t>(mio0::pair_length(word));
        state.pair_distances[k] = static_cast<std::uint16_t>(mio0::pair_distance(word));
    }
    return ones;
}

DecodeStatus load_block_from_memory(std::span<const std::uint8_t> file, std::uint64_t offset,
                                    DecoderState& state)
{
    MemorySource source(offset < file.size() ? file.subspan(static_cast<std::size_t>(offset))
                                             : std::span<const std::uint8_t>{});
    return load_from(source, state);
}

DecodeStatus load_block(const char* path, std::uint32_t offset, DecoderState& state)
{
    InputFile input;
    if (!input.open(path))
        return DecodeStatus::OpenFailed;

    DecodeStatus status = DecodeStatus::Ok;
    std::int64_t remaining = -1;
    const std::int64_t size = input.regular_size();
    if (size >= 0) {
        remaining = offset < size ? size - offset : 0;
        if (remaining > 0 && input.seek(offset) != SeekResult::Done)
            status = DecodeStatus::OpenFailed;
    } else {
        switch (input.seek(offset)) {
        case SeekResult::Done:
            break;
        case SeekResult::Failed:
            status = DecodeStatus::OpenFailed;
            break;
        case SeekResult::Unseekable: {
            // A pipe: the offset is reached by reading past it.
            std::uint8_t scratch[std::size_t{1} << 16];
            std::uint64_t skip = offset;
            while (status == DecodeStatus::Ok && skip > 0) {
                const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(skip, sizeof scratch));
                const std::int64_t got = input.read(scratch, piece);
                if (got < 0)
                    status = DecodeStatus::OpenFailed;
                else if (static_cast<std::size_t>(got) < piece)
                    status = DecodeStatus::NotMio0;
                skip -= piece;
            }
            break;
        }
        }
    }
    if (status == DecodeStatus::Ok) {
        FileSource source(input, remaining);
        status = load_from(source, state);
    }
    return status;
}
