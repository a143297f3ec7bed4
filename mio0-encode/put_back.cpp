#include "put_back.hpp"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "block_decoder.hpp"
#include "block_input.hpp"
#include "byte_buffer.hpp"
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

// Whether a block decodes at `offset` of the image, by the very check the
// decoder makes, and its extent.
PutBackStatus find_old_block(InputFile& image, std::uint64_t size, std::uint64_t offset, Extent& extent)
{
    mio0::FileInput input(image, offset, size);
    BlockInfo info;
    switch (check_block(input, info)) {
    case DecodeStatus::Ok:
        break;
    case DecodeStatus::InputUnopenable:
    case DecodeStatus::InputReadFailed:
        return PutBackStatus::ImageUnreadable;
    case DecodeStatus::OutOfMemory:
        return PutBackStatus::OutOfMemory;
    default:
        return PutBackStatus::NotABlock;
    }
    extent.offset = offset;
    extent.length = info.stored_length();
    extent.swapped = info.header.swapped;
    extent.straddles = extent.swapped && extent.length % 2 == 1 && extent.length < input.available();
    return PutBackStatus::Ok;
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
    ByteBuffer output;
    BlockInfo info;
    return decode_block(stored, 0, output, info) == DecodeStatus::Ok &&
           info.header.decompressed_size == input.size() && output.size() == input.size() &&
           (input.empty() || std::memcmp(output.data(), input.data(), input.size()) == 0);
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
    // Only a regular file can be read at the offset and replaced; asked
    // before the open, which would wait on a FIFO for a writer.
    std::error_code error;
    if (!std::filesystem::is_regular_file(std::filesystem::path(reinterpret_cast<const char8_t*>(image_path)), error))
        return {PutBackStatus::ImageUnreadable};
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
    if (!head.assign_zeros(static_cast<std::size_t>(reach)))
        return {PutBackStatus::OutOfMemory};
    if (extent.straddles && extent.length - 1 < reach)
        head.data()[extent.length - 1] = kept;
    if (reach > extent.length)
        head.data()[extent.length] = after;
    // Where `head` ends before the image does, it still holds every stored
    // position of the block's bytes, so the storage rule places them as it
    // would in the whole image.
    mio0::place_block_bytes({head.data(), head.size()}, 0, {block.data(), block.size()}, extent.swapped);
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
    // Windows replaces no file that a handle still holds open, this one's
    // own included: the image is closed before the rename.
    image.close();
    if (status == PutBackStatus::Ok && !output.finish())
        status = PutBackStatus::WriteFailed;
    if (status != PutBackStatus::Ok)
        output.discard();
    return {status};
}
