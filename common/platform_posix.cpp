#include "platform.hpp"

#include <algorithm>
#include <cerrno>
#include <csignal>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// read(2) and write(2) move at most this much per call on Linux.
constexpr std::size_t max_io_chunk = 0x7ffff000;

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

} // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const char* path)
{
    close();
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        ::close(fd);
        return false;
    }
    handle_ = fd;
    return true;
}

void InputFile::close()
{
    if (handle_ != closed)
        ::close(descriptor(handle_));
    handle_ = closed;
}

std::int64_t InputFile::regular_size() const
{
    struct stat info {};
    if (handle_ == closed || ::fstat(descriptor(handle_), &info) != 0 || !S_ISREG(info.st_mode))
        return -1;
    return static_cast<std::int64_t>(info.st_size);
}

std::int64_t InputFile::read(std::uint8_t* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::read(descriptor(handle_), bytes + done, std::min(length - done, max_io_chunk));
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

std::int64_t InputFile::read_at(std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = ::pread(descriptor(handle_), bytes + done, std::min(length - done, max_io_chunk),
                                    static_cast<off_t>(offset + done));
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

SeekResult InputFile::seek(std::uint64_t offset)
{
    if (::lseek(descriptor(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0)
        return SeekResult::Done;
    return errno == ESPIPE ? SeekResult::Unseekable : SeekResult::Failed;
}

bool InputFile::is_named_by(const char* path) const
{
    struct stat named {};
    struct stat open {};
    return handle_ != closed && ::stat(path, &named) == 0 && ::fstat(descriptor(handle_), &open) == 0 &&
           named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

OutputFile::~OutputFile()
{
    if (handle_ != closed)
        discard();
}

bool OutputFile::open(const char* path)
{
    const int fd = ::open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    handle_ = fd;
    owned_ = true;
    path_ = path;
    struct stat info {};
    removable_ = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    failed_ = false;
    return true;
}

void OutputFile::attach_standard_output()
{
    handle_ = STDOUT_FILENO;
    owned_ = false;
    removable_ = false;
    failed_ = false;
    path_.clear();
}

bool OutputFile::write(const std::uint8_t* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (!failed_ && done < length) {
        const ssize_t put = ::write(descriptor(handle_), bytes + done, std::min(length - done, max_io_chunk));
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
    if (handle_ == closed)
        return !failed_;
    if (owned_ && ::close(descriptor(handle_)) != 0)
        failed_ = true;
    handle_ = closed;
    if (failed_ && removable_)
        (void)::unlink(path_.c_str());
    return !failed_;
}

void OutputFile::discard()
{
    failed_ = true;
    (void)finish();
}

void prepare_process() { (void)std::signal(SIGXFSZ, SIG_IGN); }

int run_with_arguments(int argc, char** argv, int (*program)(int argc, char** argv))
{
    return program(argc, argv);
}

void advise_large_buffer(void* bytes, std::size_t size)
{
#if defined(MADV_HUGEPAGE)
    // Transparent huge pages where the kernel offers them on request: a
    // 64 MiB buffer then costs 32 page faults, not 16384.
    constexpr std::size_t huge_page = std::size_t{2} << 20;
    if (size < 2 * huge_page)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (start + size) & ~(huge_page - 1);
    if (last > first)
        (void)::madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
#else
    (void)bytes;
    (void)size;
#endif
}
