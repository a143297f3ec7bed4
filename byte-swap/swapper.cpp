#include "swapper.hpp"

#include "byte_pairs.hpp"
#include "file_io.hpp"

namespace {

// Small enough to stay in the cache between the read, the swap and the
// write; even, so that every piece starts on a pair boundary.
constexpr std::size_t piece_size = std::size_t{256} << 10;
static_assert(piece_size % 2 == 0);

std::uint8_t stream_result(SwapJob& job, OutputFile& output)
{
    ByteBuffer piece;
    if (!piece.resize(piece_size))
        return write_io_failed;
    for (;;) {
        const std::int64_t got = job.input.read(piece.data(), piece.size());
        if (got < 0)
            return write_read_failed;
        const auto length = static_cast<std::size_t>(got);
        if (job.swap_requested)
            swap_byte_pairs(piece.data(), length);
        if (!output.write(piece.data(), length))
            return write_io_failed;
        if (length < piece.size())
            return write_ok; // a read stops short only at end of input
    }
}

} // namespace

std::uint8_t read_input_file(SwapJob& job)
{
    if (!job.input.open(job.input_path.c_str()))
        return read_open_failed;
    // An output file, even the input itself under any name, is written to a
    // new file that replaces it only once complete: the input stays whole
    // and readable while it is streamed.
    if (!job.to_stdout) {
        job.streaming = true;
        return read_ok;
    }
    const InputStatus status = read_to_end(job.input, job.data, UINT64_MAX);
    job.input.close();
    switch (status) {
    case InputStatus::Ok:
        return read_ok;
    case InputStatus::OutOfMemory:
    case InputStatus::TooLarge:
        return read_no_memory;
    case InputStatus::OpenFailed:
    case InputStatus::ReadFailed:
        break;
    }
    job.data.release();
    return read_io_failed;
}

std::uint8_t write_result(SwapJob& job)
{
    OutputFile output;
    if (job.to_stdout)
        output.attach_standard_output();
    else if (!output.open(job.output_path.c_str()))
        return write_open_failed;
    std::uint8_t result = write_ok;
    if (job.streaming)
        result = stream_result(job, output);
    else if (!output.write(job.data.data(), job.data.size()))
        result = write_io_failed;
    if (result == write_ok && !output.finish())
        result = write_io_failed;
    if (result != write_ok)
        output.discard();
    job.data.release();
    return result;
}
