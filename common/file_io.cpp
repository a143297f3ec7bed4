#include "file_io.hpp"

#include <algorithm>

namespace {

constexpr std::size_t first_pipe_buffer = std::size_t{1} << 16;

} // namespace

// The same on every platform: zeros go through write() in pieces, so a
// vast zero tail never needs a buffer of its size.
bool OutputFile::write_zeros(std::uint64_t count)
{
    static const std::uint8_t zeros[std::size_t{1} << 16] = {};
    while (!failed_ && count > 0) {
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, sizeof zeros));
        if (!write(zeros, piece))
            break;
        count -= piece;
    }
    return !failed_;
}

InputStatus read_to_end(InputFile& input, ByteBuffer& data, std::uint64_t cap)
{
    // One byte more than the cap can be held, so that passing it is seen.
    const std::uint64_t most = std::min<std::uint64_t>(cap, SIZE_MAX - 1) + 1;
    std::uint64_t capacity = first_pipe_buffer;
    if (const std::int64_t size = input.regular_size(); size >= 0) {
        // One byte more than the file holds, so that meeting the end of an
        // unchanged file never needs a second allocation.
        capacity = static_cast<std::uint64_t>(size) + 1;
    }
    if (!data.resize(static_cast<std::size_t>(std::min(capacity, most))))
        return InputStatus::OutOfMemory;

    std::size_t length = 0;
    for (;;) {
        if (length == data.size()) {
            if (length >= most)
                return InputStatus::TooLarge;
            const std::uint64_t grown = std::min<std::uint64_t>(std::uint64_t{data.size()} * 2, most);
            if (!data.resize(static_cast<std::size_t>(grown)))
                return InputStatus::OutOfMemory;
        }
        const std::int64_t got = input.read(data.data() + length, data.size() - length);
        if (got < 0)
            return InputStatus::ReadFailed;
        length += static_cast<std::size_t>(got);
        if (length < data.size())
            break; // read stops short only at end of input
    }
    if (length > cap)
        return InputStatus::TooLarge;
    if (!data.resize(length))
        return InputStatus::OutOfMemory;
    return InputStatus::Ok;
}

InputStatus read_file(const char* path, ByteBuffer& data, std::uint64_t cap)
{
    InputFile input;
    if (!input.open(path))
        return InputStatus::OpenFailed;
    return read_to_end(input, data, cap);
}
