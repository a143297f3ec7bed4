#include "file_io.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// read(2) and write(2) move at most this much per call on Linux.
constexpr std::size_t max_io_chunk = 0x7ffff000;
constexpr std::size_t first_pipe_buffer = std::size_t{1} << 16;

} // namespace

InputStatus open_input(const char* path, int& fd)
{
    fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return InputStatus::OpenFailed;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        fd = -1;
        return InputStatus::OpenFailed;
    }
    return InputStatus::Ok;
}

std::int64_t regular_file_size(int fd)
{
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

std::int64_t read_fully(int fd, std::uint8_t* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(fd, bytes + done, std::min(length - done, max_io_chunk));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<std::size_t>(got);
    }
    return static_cast<std::int64_t>(done);
}

InputStatus read_to_end(int fd, ByteBuffer& data)
{
    std::size_t capacity = first_pipe_buffer;
    const std::int64_t size = regular_file_size(fd);
    if (size >= 0) {
        const off_t position = ::lseek(fd, 0, SEEK_CUR);
        const std::int64_t left = position >= 0 && position <= size ? size - position : 0;
        // One byte more than the file holds, so that meeting the end of an
        // unchanged file never needs a second allocation.
        if (static_cast<std::uint64_t>(left) >= SIZE_MAX)
            return InputStatus::OutOfMemory;
        capacity = static_cast<std::size_t>(left) + 1;
    }
    if (!data.resize(capacity))
        return InputStatus::OutOfMemory;

    std::size_t length = 0;
    for (;;) {
        if (length == data.size()) {
            const std::size_t grown = data.size() > SIZE_MAX / 2 ? SIZE_MAX : data.size() * 2;
            if (grown == data.size() || !data.resize(grown))
                return InputStatus::OutOfMemory;
        }
        const std::int64_t got = read_fully(fd, data.data() + length, data.size() - length);
        if (got < 0)
            return InputStatus::ReadFailed;
        length += static_cast<std::size_t>(got);
        if (length < data.size())
            break; // read_fully stops short only at end of file
    }
    if (!data.resize(length))
        return InputStatus::OutOfMemory;
    return InputStatus::Ok;
}

OutputFile::~OutputFile()
{
    if (fd_ >= 0)
        discard();
}

bool OutputFile::open(const char* path)
{
    fd_ = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd_ < 0)
        return false;
    path_ = path;
    struct stat info {};
    removable_ = ::fstat(fd_, &info) == 0 && S_ISREG(info.st_mode);
    failed_ = false;
    return true;
}

void OutputFile::attach_standard_output()
{
    fd_ = STDOUT_FILENO;
    removable_ = false;
    failed_ = false;
    path_.clear();
}

bool OutputFile::write(const std::uint8_t* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (!failed_ && done < length) {
        const ssize_t put = ::write(fd_, bytes + done, std::min(length - done, max_io_chunk));
        if (put < 0) {
            if (errno == EINTR)
                continue;
            failed_ = true;
        } else if (put == 0) {
            failed_ = true;
        } else {
            done += static_cast<std::size_t>(put);
        }
    }
    return !failed_;
}

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

bool OutputFile::finish()
{
    if (fd_ < 0)
        return !failed_;
    if (::close(fd_) != 0)
        failed_ = true;
    fd_ = -1;
    if (failed_ && removable_)
        (void)::unlink(path_.c_str());
    return !failed_;
}

void OutputFile::discard()
{
    failed_ = true;
    (void)finish();
}

void ignore_file_size_signal() { (void)std::signal(SIGXFSZ, SIG_IGN); }

FileBytes::~FileBytes()
{
    if (mapping_ != nullptr)
        ::munmap(mapping_, size_);
}

InputStatus FileBytes::load(const char* path)
{
    int fd = -1;
    if (const InputStatus status = open_input(path, fd); status != InputStatus::Ok)
        return status;
    InputStatus status = InputStatus::Ok;
    const std::int64_t size = regular_file_size(fd);
    void* mapping = MAP_FAILED;
    if (size > 0 && static_cast<std::uint64_t>(size) <= SIZE_MAX)
        mapping = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (mapping != MAP_FAILED) {
        mapping_ = mapping;
        data_ = static_cast<const std::uint8_t*>(mapping);
        size_ = static_cast<std::size_t>(size);
    } else {
        status = read_to_end(fd, buffer_);
        data_ = buffer_.data();
        size_ = buffer_.size();
    }
    ::close(fd);
    return status;
}
