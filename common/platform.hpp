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

    // Copies `source` from its position to its end, or its first `limit`
    // bytes, into a new temporary file that no name reaches, and opens that
    // file: a pipe can then be
    // read at any offset while being held on disk, not in memory. The file
    // goes when it is closed, or with the process. OpenFailed when no such
    // file can be made (nothing of `source` is read then); ReadFailed when
    // `source` fails; OutOfMemory when the file cannot take all of it.
    InputStatus open_spooled(InputFile& source, std::uint64_t limit);

private:
    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle_ = closed; // a descriptor or a HANDLE
};

// A destination for a program's result. Every write and the close are
// checked; a failure is sticky, and finish() reports it.
//
// A destination that is, or will be, a regular file is replaced whole.
// open() follows symbolic links to the final file (so a link stays a link
// and its target is what is replaced) and creates a new, uniquely named
// temporary file in that file's directory; every write goes there. finish()
// renames it over the final name only after every byte is written and the
// close has succeeded. The new file takes the permission bits of the file
// it replaces; a new destination gets 0666 less the umask (the platform's
// defaults, where it has no such bits). On any failure, and in discard(),
// the temporary file is removed: an old destination is then exactly as it
// was, and a new one never appears. So an input named as the destination,
// under any of its names, stays readable and whole until the rename; a
// hard-linked destination gets a new file, and its other names keep the
// old content; of two runs writing one name, the last rename wins and the
// file holds one complete result.
//
// A destination that is not a regular file (a device, a FIFO, a terminal,
// /dev/stdout when that is a pipe or a terminal) is written directly and
// never removed. A name of an open descriptor (/dev/stdout, /dev/fd/N) that
// leads to a regular file is written directly too: truncated at the open,
// emptied again if the result fails, and its name never unlinked.
//
// open() returns false, having changed nothing, where the destination
// could not be written even in place: its directory is missing, it is a
// directory, the user may not write it, or a new file cannot be made there.
// A destination that exists and may be written but cannot be replaced (its
// directory is not writable) opens with the failure already set: every
// write and finish() return false, and the destination is left as it was.
//
// While a temporary file exists, the signals and console events that
// prepare_process() catches remove it before the process ends. A process
// replaces one destination at a time.
class OutputFile {
public:
    OutputFile() = default;
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;
    ~OutputFile(); // discards a result that was not finished

    [[nodiscard]] bool open(const char* path);
    // Standard output, in binary mode where the platform has a text mode.
    // Written directly; nothing is removed or emptied on a failure.
    void attach_standard_output();

    [[nodiscard]] bool write(const std::uint8_t* bytes, std::size_t length);
    [[nodiscard]] bool write_zeros(std::uint64_t count);

    // Completes the destination: closes it and, for a replaced file, renames
    // the temporary file over the final name. Returns false if any write,
    // the close or the rename failed; the temporary file is then gone.
    [[nodiscard]] bool finish();

    // Gives up on the result: closes, and removes the temporary file.
    void discard();

private:
    bool open_through(const char* path);
    bool fill_through();

    static constexpr std::intptr_t closed = -1;
    std::intptr_t handle_ = closed;
    std::intptr_t directory_ = closed; // POSIX: the final file's directory
    bool owned_ = false;      // closed by finish(); standard output is not
    bool removable_ = false;  // writes go to temporary_path_, renamed to path_
    bool empty_on_failure_ = false; // a regular file written directly
    // POSIX: a regular file named through a descriptor (/dev/stdout,
    // /dev/fd/N), which may be the program's own input: the result goes to
    // a nameless file first and is copied in by finish().
    std::intptr_t through_ = closed;
    bool failed_ = false;
    std::string path_;           // the final name (after links are followed)
    std::string temporary_path_; // POSIX: a name inside directory_
};

// What every program sets up before its first write: a write past a file
// size limit fails with an error instead of ending the process; SIGINT,
// SIGTERM, SIGHUP and SIGPIPE (on Windows, the console's interrupt and
// close events) remove a pending temporary file, then end the process as
// the signal would have, so that a shell sees 128 + N. A signal that was
// ignored when the process started stays ignored. Where the system numbers
// its descriptors, a standard one that the process was started without is
// held by an unusable descriptor, so that no file opened later takes its
// number and a name such as /dev/stdout never reaches the program's input.
void prepare_process();

// Calls `program` with the command line as UTF-8 words. On POSIX these are
// argc and argv as given; elsewhere they are rebuilt from the system's own
// form of the command line, so that any file name can be named.
int run_with_arguments(int argc, char** argv, int (*program)(int argc, char** argv));

// A hint that [bytes, bytes + size) is one large buffer, read or written
// through once: the system may back it with larger pages.
void advise_large_buffer(void* bytes, std::size_t size);
