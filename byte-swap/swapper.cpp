#include "swapper.hpp"

#include "byte_pairs.hpp"
#include "file_io.hpp"

namespace {

// Small enough to stay in the cache between the read, the swap and the
// write; even, so that every piece starts on a pair boundary.
constexpr std::size_t piece_size = std::size_t{256} << 10;
static_assert(piece_size % 2 == 0);

SwapStatus stream_result(SwapJob& job, OutputFile& output)
{
    ByteBuffer piece;
    if (!piece.resize(piece_size))
        return SwapStatus::OutOfMemory;
    for (;;) {
        const std::int64_t got = job.input.read(piece.data(), piece.size());
        if (got < 0)
            return SwapStatus::InputReadFailed;
        const auto length = static_cast<std::size_t>(got);
        if (job.swap_requested)
            swap_byte_pairs(piece.data(), length);
        if (!output.write(piece.data(), length))
            return SwapStatus::OutputWriteFailed;
        if (length < piece.size())
            return SwapStatus::Ok; // a read stops short only at end of input
    }
}

} // namespace

SwapStatus read_input_file(SwapJob& job)
{
    if (!job.input.open(job.input_path.c_str()))
        return SwapStatus::InputOpenFailed;
    // An output file, even the input itself under any name, is written to a
    // new file that replaces it only once complete: the input stays whole
    // and readable while it is streamed.
    if (!job.to_stdout) {
        job.streaming = true;
        return SwapStatus::Ok;
    }
    const InputStatus status = read_to_end(job.input, job.data, UINT64_MAX);
    job.input.close();
    switch (status) {
    case InputStatus::Ok:
        return SwapStatus::Ok;
    case InputStatus::OutOfMemory:
    case InputStatus::TooLarge:
        return SwapStatus::OutOfMemory;
    case InputStatus::OpenFailed:
    case InputStatus::ReadFailed:
        break;
    }
    job.data.release();
    return SwapStatus::InputReadFailed;
}

SwapStatus write_result(SwapJob& job)
{
    OutputFile output;
    if (job.to_stdout)
        output.attach_standard_output();
    else if (!output.open(job.output_path.c_str()))
        return SwapStatus::OutputOpenFailed;
    SwapStatus result = SwapStatus::Ok;
    if (job.streaming)
        result = stream_result(job, output);
    else if (!output.write(job.data.data(), job.data.size()))
        result = SwapStatus::OutputWriteFailed;
    // Some systems refuse to replace a file that is still open, and in
    // place the input is the file being replaced.
    job.input.close();
    if (result == SwapStatus::Ok && !output.finish())
        result = SwapStatus::OutputWriteFailed;
    if (result != SwapStatus::Ok)
        output.discard();
    job.data.release();
    return result;
}
