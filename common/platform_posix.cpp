#include "platform.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <linux/magic.h>
#include <sys/vfs.h>
#else
#include <cstdlib>
#endif

namespace {

// read(2) and write(2) move at most this much per call on Linux.
constexpr std::size_t max_io_chunk = 0x7ffff000;

int descriptor(std::intptr_t handle) { return static_cast<int>(handle); }

// The destination's directory is only ever named relative to, never
// listed: where the system has O_PATH, its read permission does not matter.
#if defined(O_PATH)
constexpr int directory_flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
#else
constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_CLOEXEC;
#endif

// As many links as the kernel follows in one path (Linux's MAXSYMLINKS).
constexpr int max_link_hops = 40;

// ----- The temporary file that a signal must remove ------------------------

constexpr int caught_signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

// A descriptor of the directory and the name there. The name is written
// before `pending` is set, and `pending` is cleared only once the file has
// been renamed or removed. Lock-free atomics are safe to read in a handler;
// the buffer fits any one file name.
std::atomic<int> pending_directory{-1};
std::atomic<bool> pending{false};
char pending_name[NAME_MAX + 1];
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void remove_pending_and_reraise(int signal_number)
{
    // Only async-signal-safe calls: unlinkat and raise.
    if (pending.load())
        (void)::unlinkat(pending_directory.load(), pending_name, 0);
    (void)::raise(signal_number);
}

void disarm_cleanup() { pending.store(false); }

// ----- Finding the file that a destination names ----------------------------

std::string directory_of(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// True when `path` lies in a directory of names for open descriptors
// (/proc/self/fd, /dev/fd): such a name reopens whatever the descriptor
// holds, and its link text is no path to rename over.
bool names_a_descriptor(const std::string& path)
{
    const std::string directory = directory_of(path);
#if defined(__linux__)
    struct statfs fs {};
    return ::statfs(directory.c_str(), &fs) == 0 && fs.f_type == PROC_SUPER_MAGIC;
#else
    char resolved[PATH_MAX];
    if (::realpath(directory.c_str(), resolved) == nullptr)
        return false;
    return std::strcmp(resolved, "/dev/fd") == 0 || std::strncmp(resolved, "/proc/", 6) == 0;
#endif
}

bool read_link(const std::string& path, std::string& target)
{
    target.resize(256);
    for (;;) {
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0)
            return false;
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return !target.empty();
        }
        target.resize(target.size() * 2);
    }
}

enum class LinkWalk : std::uint8_t {
    Final,      // final_path names the file, which need not exist yet
    Descriptor, // the path leads through a name of an open descriptor
    Failed,
};

// Follows symbolic links from `path` to the file they lead to. A relative
// link is read from the link's own directory, as the kernel reads it.
LinkWalk follow_links(const char* path, std::string& final_path)
{
    std::string current = path;
    for (int hop = 0; hop <= max_link_hops; ++hop) {
        struct stat info {};
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return LinkWalk::Failed;
            final_path = current; // a new file, or a link's missing target
            return LinkWalk::Final;
        }
        if (names_a_descriptor(current))
            return LinkWalk::Descriptor;
        if (!S_ISLNK(info.st_mode)) {
            final_path = current;
            return LinkWalk::Final;
        }
        std::string target;
        if (!read_link(current, target))
            return LinkWalk::Failed;
        const std::size_t slash = current.find_last_of('/');
        if (target.front() == '/' || slash == std::string::npos)
            current = target;
        else
            current = current.substr(0, slash + 1) + target;
    }
    return LinkWalk::Failed; // a loop of links
}

// ----- Writing beside the final file ----------------------------------------

struct DirectFile {
    int fd = -1;
    bool regular = false; // truncated by the open: emptied again on failure
};

DirectFile open_directly(const char* path)
{
    // O_TRUNC is ignored by devices, FIFOs and terminals.
    DirectFile direct;
    direct.fd = ::open(path, O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOCTTY);
    struct stat info {};
    direct.regular = direct.fd >= 0 && ::fstat(direct.fd, &info) == 0 && S_ISREG(info.st_mode);
    return direct;
}

// A new file that no name reaches, in $TMPDIR or /tmp: it goes when it is
// closed, or with the process. -1 when none can be made.
int open_nameless_file()
{
    const char* directory = std::getenv("TMPDIR");
    std::string name = std::string(directory != nullptr && *directory != 0 ? directory : "/tmp") +
                       "/.mio0-spool.XXXXXX";
    const int fd = ::mkstemp(name.data());
    if (fd < 0)
        return -1;
    (void)::unlink(name.c_str());
    (void)::fcntl(fd, F_SETFD, FD_CLOEXEC);
    return fd;
}

// Gives the complete temporary file the final name, atomically. Where an
// old file holds the name, the two are exchanged and the old one, now under
// the temporary name, is removed; elsewhere, or where the system cannot
// exchange, a rename. finish() has already started the new file's data on
// its way to the disk, which ext4 would otherwise do inside a rename over
// a file, holding it up longer.
bool put_in_place(int directory_fd, const std::string& temporary, const std::string& final_name)
{
#if defined(RENAME_EXCHANGE)
    if (::renameat2(directory_fd, temporary.c_str(), directory_fd, final_name.c_str(), RENAME_EXCHANGE) == 0) {
        if (::unlinkat(directory_fd, temporary.c_str(), 0) == 0)
            return true;
        // The name had become something that is not a file (a directory):
        // put it back, and let the rename below refuse as it would.
        if (::renameat2(directory_fd, temporary.c_str(), directory_fd, final_name.c_str(), RENAME_EXCHANGE) != 0)
            return false;
    }
#endif
    return ::renameat(directory_fd, temporary.c_str(), directory_fd, final_name.c_str()) == 0;
}

void close_directory(std::intptr_t& directory)
{
    if (directory != -1)
        ::close(descriptor(directory));
    directory = -1;
}

std::uint64_t mix(std::uint64_t value)
{
    value += 0x9e3779b97f4a7c15;
    value = (value ^ (value >> 30)) * 0xbf58476d1ce4e5b9;
    value = (value ^ (value >> 27)) * 0x94d049bb133111eb;
    return value ^ (value >> 31);
}

// ".NAME.PID.RANDOM": hidden, beside the final file, and never the name of
// another live process's file, since it holds this process's id. The final
// name is cut to leave room, at a UTF-8 character boundary.
std::string temporary_name(const std::string& name, std::uint64_t seed)
{
    constexpr std::size_t most_kept = NAME_MAX - 48;
    std::size_t kept = std::min(name.size(), most_kept);
    while (kept > 0 && kept < name.size() && (static_cast<unsigned char>(name[kept]) & 0xc0) == 0x80)
        --kept;
    char suffix[48];
    const int length = std::snprintf(suffix, sizeof suffix, ".%ld.%08x", static_cast<long>(::getpid()),
                                     static_cast<unsigned>(mix(seed) & 0xffffffff));
    std::string temporary(1, '.');
    temporary.append(name, 0, kept);
    temporary.append(suffix, static_cast<std::size_t>(std::max(length, 0)));
    return temporary;
}

// Creates a new temporary file for `name` in `directory` with O_EXCL, so
// that concurrent runs never share one, and arms the signal cleanup for it
// before it exists.
int create_temporary(int directory, const std::string& name, mode_t mode, std::string& temporary)
{
    static std::uint64_t counter = 0;
    struct timespec now {};
    (void)::clock_gettime(CLOCK_REALTIME, &now);
    const std::uint64_t seed = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string candidate = temporary_name(name, seed + ++counter);
        if (candidate.size() >= sizeof pending_name)
            return -1;
        std::memcpy(pending_name, candidate.c_str(), candidate.size() + 1);
        pending_directory.store(directory);
        pending.store(true);
        const int fd = ::openat(directory, candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
        if (fd >= 0) {
            temporary = candidate;
            return fd;
        }
        const int error = errno;
        disarm_cleanup();
        if (error != EEXIST && error != EINTR)
            return -1;
    }
    return -1;
}

// The new file takes the old one's owner where this process may give it,
// and its permission bits. A set-user-ID or set-group-ID bit is kept only
// with the owner or group it was given for.
void take_attributes(int fd, const struct stat& old)
{
    mode_t mode = old.st_mode & 07777;
    struct stat now {};
    if (::fstat(fd, &now) == 0 && (now.st_uid != old.st_uid || now.st_gid != old.st_gid) &&
        ::fchown(fd, old.st_uid, old.st_gid) != 0) {
        mode &= ~static_cast<mode_t>(S_ISUID);
        if (now.st_gid != old.st_gid && ::fchown(fd, static_cast<uid_t>(-1), old.st_gid) != 0)
            mode &= ~static_cast<mode_t>(S_ISGID);
    }
    (void)::fchmod(fd, mode);
}

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

namespace {

// Calls `step` (a read(2) or pread(2) of at most max_io_chunk bytes at a
// given count done) until `length` bytes are read or the input ends.
template <typename Step>
std::int64_t read_until(std::size_t length, Step step)
{
    std::size_t done = 0;
    while (done < length) {
        const ssize_t got = step(done, std::min(length - done, max_io_chunk));
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

} // namespace

std::int64_t InputFile::read(std::uint8_t* bytes, std::size_t length)
{
    const int fd = descriptor(handle_);
    return read_until(length, [&](std::size_t done, std::size_t piece) { return ::read(fd, bytes + done, piece); });
}

std::int64_t InputFile::read_at(std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    const int fd = descriptor(handle_);
    return read_until(length, [&](std::size_t done, std::size_t piece) {
        return ::pread(fd, bytes + done, piece, static_cast<off_t>(offset + done));
    });
}

SeekResult InputFile::seek(std::uint64_t offset)
{
    if (::lseek(descriptor(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0)
        return SeekResult::Done;
    return errno == ESPIPE ? SeekResult::Unseekable : SeekResult::Failed;
}

InputStatus InputFile::open_spooled(InputFile& source, std::uint64_t limit)
{
    const int fd = open_nameless_file();
    if (fd < 0)
        return InputStatus::OpenFailed;
    close();
    handle_ = fd;

    constexpr std::size_t piece = std::size_t{1} << 16;
    std::uint8_t bytes[piece];
    for (;;) {
        const auto want = static_cast<std::size_t>(std::min<std::uint64_t>(piece, limit));
        const std::int64_t got = source.read(bytes, want);
        if (got < 0)
            return InputStatus::ReadFailed;
        limit -= static_cast<std::uint64_t>(got);
        for (std::size_t done = 0; done < static_cast<std::size_t>(got);) {
            const ssize_t put = ::write(fd, bytes + done, static_cast<std::size_t>(got) - done);
            if (put < 0 && errno == EINTR)
                continue;
            if (put <= 0)
                return InputStatus::OutOfMemory;
            done += static_cast<std::size_t>(put);
        }
        if (static_cast<std::size_t>(got) < want || limit == 0)
            return InputStatus::Ok;
    }
}

OutputFile::~OutputFile()
{
    if (handle_ != closed || directory_ != closed)
        discard();
}

bool OutputFile::open(const char* path)
{
    if (handle_ != closed || directory_ != closed)
        discard();
    owned_ = false;
    removable_ = false;
    empty_on_failure_ = false;
    failed_ = false;
    path_.clear();
    temporary_path_.clear();
    if (path == nullptr || *path == '\0')
        return false;
    const auto take_direct = [this](DirectFile direct) {
        if (direct.fd < 0)
            return false;
        handle_ = direct.fd;
        owned_ = true;
        empty_on_failure_ = direct.regular;
        return true;
    };

    // A device, a FIFO, a terminal or a pipe named through /dev/stdout is
    // written as it is. (A directory fails here, as it should.)
    struct stat info {};
    if (::stat(path, &info) == 0 && !S_ISREG(info.st_mode))
        return take_direct(open_directly(path));

    std::string final_path;
    switch (follow_links(path, final_path)) {
    case LinkWalk::Failed:
        return false;
    case LinkWalk::Descriptor:
        return open_through(path);
    case LinkWalk::Final:
        break;
    }
    const std::string name = final_path.substr(final_path.find_last_of('/') + 1); // npos + 1 is 0
    if (name.empty() || name == "." || name == "..")
        return false;

    const int directory_fd = ::open(directory_of(final_path).c_str(), directory_flags);
    if (directory_fd < 0)
        return false;
    directory_ = directory_fd;
    path_ = name;

    struct stat old {};
    const bool replacing = ::fstatat(directory_fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
    if (replacing) {
        // Between the first look and this one the name became something
        // else: write it as it now is.
        if (!S_ISREG(old.st_mode)) {
            close_directory(directory_);
            return take_direct(open_directly(path));
        }
        // A file that could not be written in place is not replaced either.
        if (::faccessat(directory_fd, name.c_str(), W_OK, AT_EACCESS) != 0) {
            close_directory(directory_);
            return false;
        }
    }

    const int fd = create_temporary(directory_fd, name, replacing ? 0600 : 0666, temporary_path_);
    if (fd < 0) {
        if (!replacing) {
            close_directory(directory_);
            return false;
        }
        // The old file may be written but not replaced (its directory is
        // not writable): a write failure, and the old file stays whole.
        close_directory(directory_);
        failed_ = true;
        return true;
    }
    handle_ = fd;
    owned_ = true;
    removable_ = true;
    if (replacing)
        take_attributes(fd, old);
    return true;
}

bool OutputFile::open_through(const char* path)
{
    // Not truncated yet: the file may be the very input of this run, still
    // to be read. It is emptied and filled only once the result is whole.
    const int target = ::open(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (target < 0)
        return false;
    const int spool = open_nameless_file();
    if (spool < 0) {
        ::close(target);
        return false;
    }
    through_ = target;
    handle_ = spool;
    owned_ = true;
    return true;
}

// Copies the nameless result into the file named through a descriptor,
// which then holds exactly the result; on a failure it is left empty.
bool OutputFile::fill_through()
{
    const int from = descriptor(handle_);
    const int to = descriptor(through_);
    bool ok = !failed_ && ::ftruncate(to, 0) == 0 && ::lseek(to, 0, SEEK_SET) == 0;
    std::uint8_t bytes[std::size_t{1} << 16];
    for (off_t at = 0; ok;) {
        const ssize_t got = ::pread(from, bytes, sizeof bytes, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        for (ssize_t done = 0; ok && done < got;) {
            const ssize_t put = ::write(to, bytes + done, static_cast<std::size_t>(got - done));
            if (put < 0 && errno == EINTR)
                continue;
            ok = put > 0;
            done += ok ? put : 0;
        }
        at += got;
    }
    if (!ok && !failed_)
        (void)::ftruncate(to, 0);
    if (::close(to) != 0)
        ok = false;
    through_ = closed;
    return ok;
}

void OutputFile::attach_standard_output()
{
    if (handle_ != closed || directory_ != closed)
        discard();
    handle_ = STDOUT_FILENO;
    owned_ = false;
    removable_ = false;
    empty_on_failure_ = false;
    failed_ = false;
    path_.clear();
    temporary_path_.clear();
}

bool OutputFile::write(const std::uint8_t* bytes, std::size_t length)
{
    if (handle_ == closed)
        failed_ = true;
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

bool OutputFile::finish()
{
    if (through_ != closed && !fill_through())
        failed_ = true;
    if (handle_ != closed) {
        // A regular file written directly was truncated at the open: every
        // byte in it is this run's, and a failed result leaves it empty.
        if (failed_ && empty_on_failure_)
            (void)::ftruncate(descriptor(handle_), 0);
#if defined(SYNC_FILE_RANGE_WRITE)
        // The bytes start on their way to the disk before the new file takes
        // the name, so that a crash soon after cannot leave the name on a
        // file whose data never reached the disk (what ext4 does by itself
        // for a file renamed over another, but not for an exchange). It
        // does not wait for them; the run is no slower than such a rename.
        if (removable_ && !failed_)
            (void)::sync_file_range(descriptor(handle_), 0, 0, SYNC_FILE_RANGE_WRITE);
#endif
        if (owned_ && ::close(descriptor(handle_)) != 0)
            failed_ = true;
        handle_ = closed;
    }
    if (removable_) {
        const int directory_fd = descriptor(directory_);
        // Only a complete, closed file takes the final name.
        if (!failed_ && !put_in_place(directory_fd, temporary_path_, path_))
            failed_ = true;
        if (failed_)
            (void)::unlinkat(directory_fd, temporary_path_.c_str(), 0);
        // After the rename or the removal, so that a signal never finds a
        // temporary file it does not know of; finding a name that is gone
        // does no harm.
        disarm_cleanup();
        removable_ = false;
    }
    close_directory(directory_);
    owned_ = false;
    empty_on_failure_ = false;
    return !failed_;
}

void OutputFile::discard()
{
    failed_ = true;
    (void)finish();
}

void prepare_process()
{
    // A standard descriptor that the caller closed (">&-") would be taken by
    // the next open, the input's: /dev/stdout would then reopen the input
    // itself for writing, and a message would go into it. Each closed one is
    // held instead by a descriptor of "/", which takes no read or write, so
    // that its /dev name opens a directory, which no input or destination
    // accepts. Run before any file is opened; the lowest free number is the
    // one being filled.
    for (int standard = STDIN_FILENO; standard <= STDERR_FILENO; ++standard) {
        if (::fcntl(standard, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int held = ::open("/", directory_flags);
        if (held >= 0 && held != standard)
            ::close(held);
    }
    (void)std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = remove_pending_and_reraise;
    (void)::sigemptyset(&action.sa_mask);
    for (const int caught : caught_signals)
        (void)::sigaddset(&action.sa_mask, caught);
    // The default action is back as the handler starts, so the signal it
    // raises ends the process as soon as the handler returns.
    action.sa_flags = static_cast<int>(SA_RESETHAND);
    for (const int caught : caught_signals) {
        struct sigaction old {};
        // nohup and background jobs of a script start with some of these
        // ignored, and mean them to stay so.
        if (::sigaction(caught, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        (void)::sigaction(caught, &action, nullptr);
    }
}

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
