#pragma once

// The operating system as the programs use it, and no more: inputs,
// destinations, the command line and the process's reaction to signals.
// One implementation file per platform (platform_posix.cpp,
// platform_windows.cpp); no other file of the suite names a system call.
// Paths are UTF-8 text on every platform.

#include <cstddef>
#include <cstdint>
#include <string>

enum class InputStatus : std::uint8_t {
    Ok,
    OpenFailed, // missing, unreadable, or a directory
    OutOfMemory,
    ReadFailed, // an I/O error after the open
    TooLarge,   // more bytes than the caller's cap
};

enum class SeekResult : std::uint8_t {
    Done,
    Unseekable, // a pipe: the caller reaches the offset by reading
    Failed,
};

// An input opened for reading: a regular file, a pipe or a device.
class InputFile {
public:
    InputFile() = default;
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;
    ~InputFile();

    // Directories are refused here: some systems open them, and only the
    // first read would fail.
    [[nodiscard]] bool open(const char* path);
    void close();
    bool is_open() const { return handle_ != closed; }

    // Size of a regular file, or -1 when the input is not one.
    std::int64_t regular_size() const;

    // Reads up to `length` next bytes, fewer only at end of input. Returns
    // the count read, or -1 after an I/O error.
    std::int64_t read(std::uint8_t* bytes, std::size_t length);

    // Reads up to `length` bytes at `offset` of a regular file, fewer only
    // at its end, leaving the position alone. -1 after an I/O error.
    std::int64_t read_at(std::uint8_t* bytes, std::size_t length, std::uint64_t offset);

    // Moves the position to `offset` from the start.
    SeekResult seek(std::uint64_t offset);

    // True when `path` names this very file, under whatever name.
    bool is_named_by(const char* path) const;

private:
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle_ = closed; // a descriptor or a HANDLE
};

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

    [[nodiscard]] bool open(const char* path);
    // Standard output, in binary mode where the platform has a text mode.
    void attach_standard_output();

    [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t length);
    [[nodiscard]] bool write_zeros(std::uint64_t count);

    // Completes the destination. Returns false if any write or the close
    // failed, in which case a removable file is gone afterwards.
    [[nodiscard]] bool finish();

    // Gives up on the result: closes and removes a removable file.
    void discard();

private:
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle_ = closed;
    bool owned_ = false; // closed by finish(); standard output is not
    bool removable_ = false;
    bool failed_ = false;
    std::string path_;
    std::string temporary_path_; // written in place of path_ until finish()
};

// What every program sets up before its first write: a write past a file
// size limit fails with an error instead of ending the process.
void prepare_process();

// Calls `program` with the command line as UTF-8 words. On POSIX these are
// argc and argv as given; elsewhere they are rebuilt from the system's own
// form of the command line, so that any file name can be named.
int run_with_arguments(int argc, char** argv, int (*program)(int argc, char** argv));

// A hint that [bytes, bytes + size) is one large buffer, read or written
// through once: the system may back it with larger pages.
void advise_large_buffer(void* bytes, std::size_t size);
