#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "byte_buffer.hpp"

enum class InputStatus : std::uint8_t {
    Ok,
    OpenFailed,   // missing, unreadable, or a directory
    OutOfMemory,
    ReadFailed,   // an I/O error after the open
};

// Opens `path` for reading. Directories are refused here: open(2) grants
// them, and only the first read would fail.
InputStatus open_input(const char* path, int& fd);

// Reads everything from fd's current position to its end into `data`, which
// then holds exactly those bytes. Works on pipes: a regular file's size only
// sizes the first allocation, and the read always goes on to end of file.
InputStatus read_to_end(int fd, ByteBuffer& data);

// Reads up to `length` bytes, fewer only at end of file. Returns the count
// read, or -1 after an I/O error.
std::int64_t read_fully(int fd, std::uint8_t* bytes, std::size_t length);

// Size of the regular file behind fd, or -1 when fd is not a regular file.
std::int64_t regular_file_size(int fd);

// A destination for a program's result. Every write and the close are
// checked; a failure is sticky. When the result cannot be completed, the
// regular file that this run created or truncated is removed, so that no
// half-written file is left looking like a result. Devices (/dev/null,
// /dev/full, a terminal) and standard output are never removed.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile();

    // Creates `path` or truncates it.
    [[nodiscard]] bool open(const char* path);
    void attach_standard_output();

    [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t length);
    [[nodiscard]] bool write_zeros(std::uint64_t count);

    // Closes the destination. Returns false if any write or the close
    // failed, in which case a removable file is gone afterwards.
    [[nodiscard]] bool finish();

    // Gives up on the result: closes and removes a removable file.
    void discard();

private:
    int fd_ = -1;
    bool removable_ = false;
    bool failed_ = false;
    std::string path_;
};

// Writes past a file size limit (ulimit -f) must fail with EFBIG and be
// reported, not kill the process with SIGXFSZ.
void ignore_file_size_signal();

// The whole content of an input file, read-only: a regular file is mapped,
// anything else (a pipe) is read to its end.
class FileBytes {
public:
    FileBytes() = default;
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;
    ~FileBytes();

    [[nodiscard]] InputStatus load(const char* path);
    const std::uint8_t* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
    void* mapping_ = nullptr;
    ByteBuffer buffer_;
};
