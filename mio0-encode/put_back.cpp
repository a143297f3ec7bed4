#include "put_back.hpp"

#include <algorithm>
#include <cstring>
#include <vector>

#include "block_reader.hpp"
#include "block_scan.hpp"
#include "byte_buffer.hpp"
#include "decompress.hpp"
#include "encoder.hpp"
#include "file_io.hpp"
#include "mio0_format.hpp"

namespace {

// Pieces in which the untouched parts of the image are copied.
constexpr std::size_t copy_piece = std::size_t{256} << 10;

// How the old block lies in the image.
struct Extent {
    std::uint64_t offset = 0;
    std::uint64_t length = 0; // the stored length, L + N
    bool swapped = false;
    // Pair-swapped storage with an odd extent and a byte after it: the
    // block's last byte is stored in that byte, outside the extent, and the
    // extent's last stored byte holds the first byte of what follows. Both
    // stay as they are.
    bool straddles = false;
};

bool read_exactly_at(InputFile& image, std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    return image.read_at(bytes, length, offset) == static_cast<std::int64_t>(length);
}

// Whether a block decodes at `offset` of the image, and its extent.
PutBackStatus find_old_block(InputFile& image, std::uint64_t size, std::uint64_t offset, Extent& extent)
{
    if (offset >= size || size - offset < mio0::header_size)
        return PutBackStatus::NotABlock;
    std::uint8_t stored[mio0::header_size];
    if (!read_exactly_at(image, stored, sizeof stored, offset))
        return PutBackStatus::ImageUnreadable;
    BlockHeader header;
    if (check_header(stored, header) != DecodeStatus::Ok)
        return PutBackStatus::NotABlock;
    const std::uint64_t available = size - offset;
    if (available - mio0::header_size < header.body_length())
        return PutBackStatus::NotABlock;
    const auto needed = static_cast<std::size_t>(std::min<std::uint64_t>(
        available, mio0::header_size + std::uint64_t{header.body_length()} + 1));
    ByteBuffer bytes;
    if (!bytes.resize(needed))
        return PutBackStatus::OutOfMemory;
    if (!read_exactly_at(image, bytes.data(), needed, offset))
        return PutBackStatus::ImageUnreadable;
    FoundBlock found;
    if (check_block_bytes({bytes.data(), needed}, available, found) != DecodeStatus::Ok)
        return PutBackStatus::NotABlock;
    extent.offset = offset;
    extent.length = found.stored_length;
    extent.swapped = found.swapped;
    extent.straddles = found.swapped && extent.length % 2 == 1 && extent.length < available;
    return PutBackStatus::Ok;
}

// Stored byte `p` of the extent, for the new block `block` followed by
// zeros, in the extent's storage. In pair-swapped storage block byte b is
// stored at b ^ 1, or at b itself where b ^ 1 lies past the end of the image.
std::uint8_t stored_byte(const Extent& extent, const ByteBuffer& block, std::uint64_t p, std::uint8_t kept)
{
    std::uint64_t b = p;
    if (extent.swapped && (p ^ 1) < extent.length)
        b = p ^ 1;
    else if (extent.straddles)
        return kept; // p is the extent's last byte, which belongs to what follows
    return b < block.size() ? block.data()[b] : 0;
}

PutBackStatus copy_range(InputFile& image, OutputFile& output, std::uint64_t from, std::uint64_t to,
                         ByteBuffer& piece)
{
    while (from < to) {
        const auto length = static_cast<std::size_t>(std::min<std::uint64_t>(to - from, piece.size()));
        if (!read_exactly_at(image, piece.data(), length, from))
            return PutBackStatus::ImageUnreadable;
        if (!output.write(piece.data(), length))
            return PutBackStatus::WriteFailed;
        from += length;
    }
    return PutBackStatus::Ok;
}

// Decodes the new block from `stored`, the new content of the image from
// the offset on as far as the block's bytes reach, and compares it with
// the input.
bool decodes_to(std::span<const std::uint8_t> stored, std::span<const std::uint8_t> input)
{
    DecoderState state;
    if (load_block_from_memory(stored, 0, state) != DecodeStatus::Ok)
        return false;
    const DecodeResult result = decode_block(state);
    return result.status == DecodeStatus::Ok && state.decompressed_size == input.size() &&
           result.produced == input.size() &&
           (input.empty() || std::memcmp(state.output.data(), input.data(), input.size()) == 0);
}

PutBackStatus input_status(InputStatus status)
{
    switch (status) {
    case InputStatus::Ok:
        return PutBackStatus::Ok;
    case InputStatus::OpenFailed:
        return PutBackStatus::InputOpenFailed;
    case InputStatus::OutOfMemory:
        return PutBackStatus::OutOfMemory;
    case InputStatus::TooLarge:
        return PutBackStatus::InputTooLarge;
    case InputStatus::ReadFailed:
        break;
    }
    return PutBackStatus::InputReadFailed;
}

} // namespace

PutBackResult put_back(const char* input_path, const char* image_path, std::uint32_t offset)
{
    InputFile image;
    if (!image.open(image_path))
        return {PutBackStatus::ImageUnreadable};
    const std::int64_t signed_size = image.regular_size();
    if (signed_size < 0)
        return {PutBackStatus::ImageUnreadable};
    const auto size = static_cast<std::uint64_t>(signed_size);
    Extent extent;
    if (const PutBackStatus status = find_old_block(image, size, offset, extent); status != PutBackStatus::Ok)
        return {status};

    ByteBuffer input;
    if (const PutBackStatus status = input_status(read_file(input_path, input, max_encode_input));
        status != PutBackStatus::Ok)
        return {status};
    ByteBuffer block;
    switch (encode_block({input.data(), input.size()}, block)) {
    case EncodeStatus::Ok:
        break;
    case EncodeStatus::OutOfMemory:
        return {PutBackStatus::OutOfMemory};
    case EncodeStatus::TooLarge:
        return {PutBackStatus::InputTooLarge};
    }

    // The stored bytes at and after the extent's end that the new content
    // keeps: the first byte of what follows, and the byte after the extent.
    std::uint8_t kept = 0;
    std::uint8_t after = 0;
    const bool has_after = extent.offset + extent.length < size;
    if ((extent.straddles && !read_exactly_at(image, &kept, 1, extent.offset + extent.length - 1)) ||
        (has_after && !read_exactly_at(image, &after, 1, extent.offset + extent.length)))
        return {PutBackStatus::ImageUnreadable};

    // A straddling extent holds one byte fewer of the block, unless the
    // block's last byte happens to be the byte after the extent already.
    std::uint64_t room = extent.length;
    if (extent.straddles && !(block.size() == extent.length && block.data()[block.size() - 1] == after))
        room = extent.length - 1;
    if (block.size() > room)
        return {PutBackStatus::DoesNotFit, block.size(), room};

    // The new stored bytes as far as the new block reaches, with the byte
    // after the extent where the block's last pair reaches it: what the
    // decoder will read back.
    const std::uint64_t reach = std::min<std::uint64_t>(block.size() + 1, size - extent.offset);
    ByteBuffer head;
    if (!head.resize(static_cast<std::size_t>(reach)))
        return {PutBackStatus::OutOfMemory};
    for (std::uint64_t p = 0; p < reach; ++p)
        head.data()[p] = p < extent.length ? stored_byte(extent, block, p, kept) : after;
    if (!decodes_to({head.data(), head.size()}, {input.data(), input.size()}))
        return {PutBackStatus::CheckFailed};

    ByteBuffer piece;
    if (!piece.resize(copy_piece))
        return {PutBackStatus::OutOfMemory};
    OutputFile output;
    if (!output.open(image_path))
        return {PutBackStatus::WriteFailed};
    // The extent: the new block as far as the decoder reads it, zeros, and
    // the kept byte of a straddling extent, unless the block reached it.
    const std::uint64_t written = std::min(reach, extent.length);
    const bool keep_last = extent.straddles && written < extent.length;
    const std::uint64_t zeros = extent.length - written - (keep_last ? 1 : 0);
    PutBackStatus status = copy_range(image, output, 0, extent.offset, piece);
    if (status == PutBackStatus::Ok &&
        (!output.write(head.data(), static_cast<std::size_t>(written)) || !output.write_zeros(zeros) ||
         (keep_last && !output.write(&kept, 1))))
        status = PutBackStatus::WriteFailed;
    if (status == PutBackStatus::Ok)
        status = copy_range(image, output, extent.offset + extent.length, size, piece);
    if (status == PutBackStatus::Ok && !output.finish())
        status = PutBackStatus::WriteFailed;
    if (status != PutBackStatus::Ok)
        output.discard();
    return {status};
}
