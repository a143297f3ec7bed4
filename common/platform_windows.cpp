#include "platform.hpp"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <shellapi.h>

// Windows through its wide API: every path arrives as UTF-8 and is opened
// as UTF-16, so that any file name can be named; every handle moves raw
// bytes (there is no text mode below the C runtime); sizes and offsets are
// 64-bit throughout.

namespace {

// ReadFile and WriteFile count in 32 bits; 1 GiB pieces stay well inside.
constexpr std::size_t max_io_chunk = std::size_t{1} << 30;

HANDLE as_handle(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }
std::intptr_t as_value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// UTF-8 to UTF-16. Text that is not UTF-8 names no file: false.
bool widen(const char* text, std::wstring& wide)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return false;
    wide.assign(static_cast<std::size_t>(length), L'\0');
    if (::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, wide.data(), length) != length)
        return false;
    wide.pop_back(); // the terminator, counted by the -1 length
    return true;
}

std::string narrow(const wchar_t* wide)
{
    const int length = ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, wide, -1, text.data(), length, nullptr, nullptr);
    text.pop_back();
    return text;
}

bool is_disk_file(HANDLE handle) { return ::GetFileType(handle) == FILE_TYPE_DISK; }

// Everything before the last component of `path`, separator included; empty
// for a bare name, which then lives in the current directory.
std::wstring directory_part(const std::wstring& path)
{
    const std::size_t cut = path.find_last_of(L"\\/:");
    return cut == std::wstring::npos ? std::wstring{} : path.substr(0, cut + 1);
}

// The temporary file that a destination is being written to, if any, so
// that the console control handler can remove it. One program writes one
// destination at a time; the lock keeps the handler from deleting a file
// that the rename is moving into place, or from reading a half-set name.
SRWLOCK pending_lock = SRWLOCK_INIT;
wchar_t pending_temporary[32768]; // the longest path the wide API takes
bool pending = false;

void set_pending(const std::wstring& temporary)
{
    ::AcquireSRWLockExclusive(&pending_lock);
    const std::size_t length = std::min(temporary.size(), std::size(pending_temporary) - 1);
    std::copy_n(temporary.data(), length, pending_temporary);
    pending_temporary[length] = L'\0';
    pending = true;
    ::ReleaseSRWLockExclusive(&pending_lock);
}

// Ctrl-C, Ctrl-Break, a closed console window, logoff and shutdown: the
// temporary output goes, and the process ends with the status that
// Windows gives a program stopped by Ctrl-C. The handler runs on a thread
// of its own while the program may be in the middle of a write; the file
// was opened to share deletion, so it is gone once the process's handle
// closes at termination. The lock is never released: the process ends
// holding it, so a rename that has not begun never begins.
BOOL WINAPI on_console_event(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        break;
    default:
        return FALSE;
    }
    ::AcquireSRWLockExclusive(&pending_lock);
    if (pending)
        (void)::DeleteFileW(pending_temporary);
    // TerminateProcess, not ExitProcess: the C runtime's exit handlers could
    // wait for a lock held by the interrupted thread.
    (void)::TerminateProcess(::GetCurrentProcess(), static_cast<UINT>(STATUS_CONTROL_C_EXIT));
    return TRUE;
}

// ".NAME.PID.RANDOM" beside the destination: never the name of another
// run's file, and still within the 255 UTF-16 units of a name when NAME is
// long, which is then cut to leave room (never inside a surrogate pair).
std::wstring temporary_name(const std::wstring& name, std::uint64_t seed)
{
    constexpr std::size_t longest_name = 255;
    wchar_t suffix[48];
    const int length = std::swprintf(suffix, std::size(suffix), L".%lu.%08x", ::GetCurrentProcessId(),
                                     static_cast<unsigned>(seed ^ (seed >> 32)));
    const std::size_t suffix_length = static_cast<std::size_t>(std::max(length, 0));
    std::size_t kept = std::min(name.size(), longest_name - 1 - suffix_length);
    if (kept > 0 && kept < name.size() && IS_LOW_SURROGATE(name[kept]))
        --kept;
    return L"." + name.substr(0, kept) + std::wstring(suffix, suffix_length);
}

// Creates the temporary file for `destination` with CREATE_NEW, so that an
// existing file is never taken over; a name in use is tried again with the
// next seed.
HANDLE create_temporary(const std::wstring& destination, DWORD attributes, std::wstring& temporary)
{
    static std::uint64_t counter = 0;
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const auto seed = static_cast<std::uint64_t>(now.QuadPart) * 0x9e3779b97f4a7c15u;
    const std::wstring directory = directory_part(destination);
    const std::wstring name = destination.substr(directory.size());
    for (int attempt = 0; attempt < 100; ++attempt) {
        temporary = directory + temporary_name(name, seed + ++counter * 0x2545f4914f6cdd1du);
        // Shared for deletion only: the console control handler deletes it
        // by name while this handle may still be writing.
        const HANDLE handle = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, FILE_SHARE_DELETE, nullptr,
                                            CREATE_NEW, attributes, nullptr);
        if (handle != INVALID_HANDLE_VALUE)
            return handle;
        if (::GetLastError() != ERROR_FILE_EXISTS && ::GetLastError() != ERROR_ALREADY_EXISTS)
            break;
    }
    temporary.clear();
    return INVALID_HANDLE_VALUE;
}

} // namespace

InputFile::~InputFile() { close(); }

bool InputFile::open(const char* path)
{
    close();
    std::wstring wide;
    if (!widen(path, wide))
        return false;
    // Shared every way, so that other programs may keep the file open,
    // even for writing, while it is read.
    const HANDLE handle =
        ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false; // directories are refused here, without backup semantics
    BY_HANDLE_FILE_INFORMATION info{};
    if (is_disk_file(handle) && (!::GetFileInformationByHandle(handle, &info) ||
                                 (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)) {
        ::CloseHandle(handle);
        return false;
    }
    handle_ = as_value(handle);
    return true;
}

void InputFile::close()
{
    if (handle_ != closed)
        ::CloseHandle(as_handle(handle_));
    handle_ = closed;
}

std::int64_t InputFile::regular_size() const
{
    LARGE_INTEGER size{};
    if (handle_ == closed || !is_disk_file(as_handle(handle_)) || !::GetFileSizeEx(as_handle(handle_), &size))
        return -1;
    return size.QuadPart;
}

std::int64_t InputFile::read(std::uint8_t* bytes, std::size_t length)
{
    std::size_t done = 0;
    while (done < length) {
        DWORD got = 0;
        const auto piece = static_cast<DWORD>(std::min(length - done, max_io_chunk));
        if (!::ReadFile(as_handle(handle_), bytes + done, piece, &got, nullptr)) {
            // The writer of a pipe has closed its end: the end of input.
            if (::GetLastError() == ERROR_BROKEN_PIPE)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return static_cast<std::int64_t>(done);
}

std::int64_t InputFile::read_at(std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    // A read at an offset moves the position of a synchronous handle, so
    // the position is put back afterwards.
    const HANDLE handle = as_handle(handle_);
    LARGE_INTEGER position{};
    if (!::SetFilePointerEx(handle, LARGE_INTEGER{}, &position, FILE_CURRENT))
        return -1;
    std::size_t done = 0;
    bool failed = false;
    while (done < length) {
        const std::uint64_t at = offset + done;
        OVERLAPPED where{};
        where.Offset = static_cast<DWORD>(at);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        const auto piece = static_cast<DWORD>(std::min(length - done, max_io_chunk));
        if (!::ReadFile(handle, bytes + done, piece, &got, &where)) {
            failed = ::GetLastError() != ERROR_HANDLE_EOF;
            break;
        }
        if (got == 0)
            break;
        done += got;
    }
    if (!::SetFilePointerEx(handle, position, nullptr, FILE_BEGIN) || failed)
        return -1;
    return static_cast<std::int64_t>(done);
}

SeekResult InputFile::seek(std::uint64_t offset)
{
    if (!is_disk_file(as_handle(handle_)))
        return SeekResult::Unseekable;
    LARGE_INTEGER to{};
    to.QuadPart = static_cast<LONGLONG>(offset);
    return ::SetFilePointerEx(as_handle(handle_), to, nullptr, FILE_BEGIN) ? SeekResult::Done
                                                                           : SeekResult::Failed;
}

InputStatus InputFile::open_spooled(InputFile& source, std::uint64_t limit)
{
    wchar_t directory[MAX_PATH + 1];
    wchar_t name[MAX_PATH + 1];
    const DWORD length = ::GetTempPathW(MAX_PATH + 1, directory);
    if (length == 0 || length > MAX_PATH || ::GetTempFileNameW(directory, L"mio", 0, name) == 0)
        return InputStatus::OpenFailed;
    // Deleted by the system when the last handle closes, the process's end
    // included.
    const HANDLE file = ::CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        (void)::DeleteFileW(name);
        return InputStatus::OpenFailed;
    }
    close();
    handle_ = reinterpret_cast<std::intptr_t>(file);

    constexpr std::size_t piece = std::size_t{1} << 16;
    std::uint8_t bytes[piece];
    for (;;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece, limit));
        const std::int64_t got = source.read(bytes, want);
        if (got < 0)
            return InputStatus::ReadFailed;
        limit -= static_cast<std::uint64_t>(got);
        DWORD put = 0;
        if (got > 0 && (!::WriteFile(file, bytes, static_cast<DWORD>(got), &put, nullptr) ||
                        put != static_cast<DWORD>(got)))
            return InputStatus::OutOfMemory;
        if (static_cast<std::size_t>(got) < want || limit == 0)
            return InputStatus::Ok;
    }
}

OutputFile::~OutputFile()
{
    if (handle_ != closed)
        discard();
}

namespace {

// For an existing file on disk that a destination names: whether it may be
// replaced, the attributes its replacement takes, and the name of the file
// to replace, which for a symbolic link is its target (so the link stays a
// link).
bool prepare_replacement(HANDLE existing, std::wstring& path, DWORD& attributes)
{
    // A read-only file is refused as Windows refuses to write it, even to
    // an administrator; the rename would otherwise replace it.
    BY_HANDLE_FILE_INFORMATION info{};
    if (!::GetFileInformationByHandle(existing, &info) || (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        return false;
    // What marks the old file apart in a listing carries over.
    attributes = info.dwFileAttributes &
                 (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
    if (attributes == 0)
        attributes = FILE_ATTRIBUTE_NORMAL;
    // The name of the file that the open handle reached, through any
    // symbolic link. Where a file system cannot tell it, a name that is no
    // link (GetFileAttributesW does not follow one) is that file's own.
    std::wstring target(32768, L'\0');
    const DWORD length = ::GetFinalPathNameByHandleW(existing, target.data(), static_cast<DWORD>(target.size()),
                                                     FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (length == 0 || length >= target.size()) {
        const DWORD own = ::GetFileAttributesW(path.c_str());
        return own != INVALID_FILE_ATTRIBUTES && (own & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
    }
    target.resize(length);
    path = target;
    return true;
}

} // namespace

// A destination that is, or will be, a file on disk is written to a new
// temporary file beside it and renamed over it by finish(), so that the
// old file stays whole until the new one is. Devices (NUL, CON) and pipes
// are written directly and never removed.
bool OutputFile::open(const char* path)
{
    std::wstring wide;
    if (!widen(path, wide))
        return false;
    temporary_path_.clear();
    failed_ = false;
    removable_ = false;

    // Opened for writing without being changed: this refuses what could not
    // be written in place either (a directory, a file another program holds
    // without sharing, one the user may not write, a path through a folder
    // that does not exist), and tells a device from a file.
    const HANDLE existing = ::CreateFileW(wide.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    const bool replacing = existing != INVALID_HANDLE_VALUE;
    if (!replacing && ::GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    if (replacing && !is_disk_file(existing)) {
        handle_ = as_value(existing);
        owned_ = true;
        path_ = path;
        return true;
    }
    DWORD attributes = FILE_ATTRIBUTE_NORMAL;
    if (replacing) {
        const bool may_replace = prepare_replacement(existing, wide, attributes);
        ::CloseHandle(existing);
        if (!may_replace)
            return false;
    }
    path_ = narrow(wide.c_str());

    std::wstring temporary;
    const HANDLE handle = create_temporary(wide, attributes, temporary);
    if (handle == INVALID_HANDLE_VALUE) {
        // A file that could be written in place but not replaced (its
        // folder takes no new file) is a write failure, not an open one;
        // a destination that does not exist could not be made at all.
        failed_ = true;
        return replacing;
    }
    set_pending(temporary);
    temporary_path_ = narrow(temporary.c_str());
    handle_ = as_value(handle);
    owned_ = true;
    removable_ = true;
    return true;
}

void OutputFile::attach_standard_output()
{
    // The C runtime's standard output is in text mode, which would write
    // every byte 0x0A as 0x0D 0x0A. Anything it holds goes out first.
    std::fflush(stdout);
    (void)::_setmode(::_fileno(stdout), _O_BINARY);
    handle_ = ::_get_osfhandle(::_fileno(stdout));
    owned_ = false;
    removable_ = false;
    failed_ = handle_ == closed || handle_ == -2; // -2: no stream is attached
    if (failed_)
        handle_ = closed;
    path_.clear();
    temporary_path_.clear();
}

bool OutputFile::write(const std::uint8_t* bytes, std::size_t length)
{
    if (handle_ == closed)
        failed_ = true;
    std::size_t done = 0;
    while (!failed_ && done < length) {
        DWORD put = 0;
        const auto piece = static_cast<DWORD>(std::min(length - done, max_io_chunk));
        if (!::WriteFile(as_handle(handle_), bytes + done, piece, &put, nullptr) || put == 0)
            failed_ = true;
        done += put;
    }
    return !failed_;
}

bool OutputFile::finish()
{
    if (handle_ == closed)
        return !failed_;
    if (owned_ && !::CloseHandle(as_handle(handle_)))
        failed_ = true;
    handle_ = closed;
    if (!removable_)
        return !failed_;

    std::wstring temporary;
    std::wstring destination;
    (void)widen(temporary_path_.c_str(), temporary);
    if (!widen(path_.c_str(), destination))
        failed_ = true;
    // Only a complete, closed file takes the destination's name. Windows
    // refuses to replace a file while any handle to it is open, and for a
    // moment another run's rename, a virus scanner or an indexer holds one:
    // such a refusal is tried again for about a second before it counts.
    for (int attempt = 0; !failed_; ++attempt) {
        ::AcquireSRWLockExclusive(&pending_lock);
        const bool moved = ::MoveFileExW(temporary.c_str(), destination.c_str(), MOVEFILE_REPLACE_EXISTING);
        const DWORD error = moved ? ERROR_SUCCESS : ::GetLastError();
        if (moved)
            pending = false;
        ::ReleaseSRWLockExclusive(&pending_lock);
        if (moved)
            break;
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt == 50)
            failed_ = true;
        else
            ::Sleep(20);
    }
    if (failed_) {
        ::AcquireSRWLockExclusive(&pending_lock);
        (void)::DeleteFileW(temporary.c_str());
        pending = false;
        ::ReleaseSRWLockExclusive(&pending_lock);
    }
    temporary_path_.clear();
    removable_ = false;
    return !failed_;
}

void OutputFile::discard()
{
    failed_ = true;
    (void)finish();
}

void prepare_process() { (void)::SetConsoleCtrlHandler(on_console_event, TRUE); }

int run_with_arguments(int argc, char** argv, int (*program)(int argc, char** argv))
{
    // The C runtime's argv is in the ANSI code page, which cannot hold
    // every file name; the wide command line can.
    int count = 0;
    LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
    if (wide == nullptr)
        return program(argc, argv);
    std::vector<std::string> words;
    words.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        words.push_back(narrow(wide[i]));
    ::LocalFree(wide);
    std::vector<char*> pointers;
    for (std::string& word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return program(count, pointers.data());
}

// Large pages on Windows need a privilege that programs do not hold.
void advise_large_buffer(void*, std::size_t) {}
