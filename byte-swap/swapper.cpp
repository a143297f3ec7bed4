#include "swapper.hpp"

#include <unistd.h>

#include "file_io.hpp"

std::uint8_t read_input_file(SwapJob& job)
{
    int fd = -1;
    if (open_input(job.input_path.c_str(), fd) != InputStatus::Ok)
        return read_open_failed;
    const InputStatus status = read_to_end(fd, job.data);
    ::close(fd);
    switch (status) {
    case InputStatus::Ok:
        return read_ok;
    case InputStatus::OutOfMemory:
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
    const bool ok = output.write(job.data.data(), job.data.size()) && output.finish();
    if (!ok)
        output.discard();
    job.data.release();
    return ok ? write_ok : write_io_failed;
}
