#include "block_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "block_decoder.hpp"
#include "block_input.hpp"
#include "byte_buffer.hpp"
#include "file_io.hpp"
#include "mio0_format.hpp"
#include "platform.hpp"

namespace {

// Passes each position at + k whose bit k is set in `hits` and that starts a
// magic to `visit`; false once `visit` has asked to stop.
template <typename Visit>
bool visit_hits(const std::uint8_t* bytes, std::size_t size, std::size_t at, std::uint64_t hits, Visit& visit)
{
    while (hits != 0) {
        const std::size_t hit = at + static_cast<unsigned>(std::countr_zero(hits));
        hits &= hits - 1;
        if (size - hit >= 4 && (std::memcmp(bytes + hit, mio0::magic.data(), 4) == 0 ||
                                std::memcmp(bytes + hit, mio0::swapped_magic.data(), 4) == 0) &&
            !visit(hit))
            return false;
    }
    return true;
}

#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__))
#define MIO0_SCAN_X86 1

// Bit k: the bytes at k and k + 1 are "MI" or "IM"; 64 positions at a time.
[[gnu::target("avx2")]] inline std::uint64_t pair_hits_avx2(const std::uint8_t* p)
{
    const __m256i m = _mm256_set1_epi8('M');
    const __m256i i = _mm256_set1_epi8('I');
    std::uint64_t hits = 0;
    for (int half = 0; half < 2; ++half) {
        const __m256i first = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * half));
        const __m256i second = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 32 * half + 1));
        const __m256i mi = _mm256_and_si256(_mm256_cmpeq_epi8(first, m), _mm256_cmpeq_epi8(second, i));
        const __m256i im = _mm256_and_si256(_mm256_cmpeq_epi8(first, i), _mm256_cmpeq_epi8(second, m));
        hits |= std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_or_si256(mi, im)))}
                << (32 * half);
    }
    return hits;
}

// The same 64 positions with SSE2, which every x86-64 processor has.
inline std::uint64_t pair_hits_sse2(const std::uint8_t* p)
{
    const __m128i m = _mm_set1_epi8('M');
    const __m128i i = _mm_set1_epi8('I');
    std::uint64_t hits = 0;
    for (int quarter = 0; quarter < 4; ++quarter) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * quarter));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16 * quarter + 1));
        const __m128i mi = _mm_and_si128(_mm_cmpeq_epi8(first, m), _mm_cmpeq_epi8(second, i));
        const __m128i im = _mm_and_si128(_mm_cmpeq_epi8(first, i), _mm_cmpeq_epi8(second, m));
        hits |= std::uint64_t{static_cast<std::uint32_t>(_mm_movemask_epi8(_mm_or_si128(mi, im)))}
                << (16 * quarter);
    }
    return hits;
}

template <typename Visit>
[[gnu::target("avx2")]] std::size_t scan_blocks_avx2(const std::uint8_t* bytes, std::size_t length,
                                                     std::size_t size, Visit& visit, bool& stopped)
{
    std::size_t at = 0;
    for (; length >= 65 && at <= length - 65; at += 64)
        if (!visit_hits(bytes, size, at, pair_hits_avx2(bytes + at), visit)) {
            stopped = true;
            break;
        }
    return at;
}
#endif

// Offsets where "MIO0" or "IM0O" starts within the first `length` bytes of
// `bytes`, in increasing order, each passed to `visit` (which returns false
// to stop). `bytes` holds at least 3 more bytes where the input has them
// (`size` in all), so a magic that begins near the end is still seen whole.
// Both magics begin with the pair "MI" or "IM", which is rare in most data,
// so many positions at a time are screened for those two bytes and only the
// survivors compared in full.
template <typename Visit>
void scan_magics(const std::uint8_t* bytes, std::size_t length, std::size_t size, Visit&& visit)
{
    std::size_t at = 0;
#if defined(MIO0_SCAN_X86)
    static const bool has_avx2 = __builtin_cpu_supports("avx2");
    bool stopped = false;
    if (has_avx2) {
        at = scan_blocks_avx2(bytes, length, size, visit, stopped);
    } else {
        for (; length >= 65 && at <= length - 65; at += 64)
            if (!visit_hits(bytes, size, at, pair_hits_sse2(bytes + at), visit)) {
                stopped = true;
                break;
            }
    }
    if (stopped)
        return;
#endif
    for (; at < length; ++at)
        if (!visit_hits(bytes, size, at, 1, visit))
            return;
}

constexpr std::uint64_t last_offset = 0xFFFFFFFFu; // the largest offset the decoder takes
constexpr std::size_t magic_overlap = 3;

// The file being listed: a regular file read with positional reads, or a
// copy in memory.
class ScanSource {
public:
    explicit ScanSource(std::uint64_t size) : size_(size) {}
    virtual ~ScanSource() = default;
    std::uint64_t size() const { return size_; }
    // Bytes [at, at + length), all inside the file. False on a read error.
    virtual bool read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length) = 0;

private:
    std::uint64_t size_;
};

class FileSource final : public ScanSource {
public:
    FileSource(InputFile& file, std::uint64_t size) : ScanSource(size), file_(file) {}
    bool read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length) override
    {
        return read_exactly_at(file_, bytes, length, at);
    }

private:
    InputFile& file_;
};

class MemorySource final : public ScanSource {
public:
    explicit MemorySource(std::span<const std::uint8_t> bytes) : ScanSource(bytes.size()), bytes_(bytes) {}
    bool read_at(std::uint64_t at, std::uint8_t* bytes, std::size_t length) override
    {
        if (length > 0)
            std::memcpy(bytes, bytes_.data() + at, length);
        return true;
    }

private:
    std::span<const std::uint8_t> bytes_;
};

// Counts of 1 bits of the file before each granule boundary, modulo 2^32:
// a layout region has fewer than 2^32 bits, so the difference of two
// entries is the exact count between them. Filled forward, each granule
// read once, as far as the candidates' layouts reach; at most 4 bytes per
// granule of the part of the file that a layout can reach.
class OnesTable {
public:
    OnesTable(ScanSource& source, std::size_t granule) : source_(source), granule_(granule) {}

    // Count of 1 bits in file bytes [from, to), whose granules are whole.
    // False on a read error; `usable` false when the table cannot be had.
    bool count(std::uint64_t from, std::uint64_t to, std::uint64_t& ones, bool& usable)
    {
        const std::uint64_t first = from / granule_;
        const std::uint64_t last = to / granule_;
        usable = reserve();
        if (!usable)
            return true;
        while (filled_ <= last)
            if (!fill_more())
                return false;
        ones = static_cast<std::uint32_t>(entries()[last] - entries()[first]);
        return true;
    }

private:
    // The furthest byte a layout region can reach: its block's offset, at
    // most last_offset, plus 16 plus the largest layout.
    static constexpr std::uint64_t reach = last_offset + mio0::header_size + mio0::max_layout_bytes + 1;

    std::uint32_t* entries() { return reinterpret_cast<std::uint32_t*>(table_.data()); }

    bool reserve()
    {
        if (table_.size() != 0)
            return true;
        if (failed_)
            return false;
        const std::uint64_t count = std::min(source_.size(), reach) / granule_ + 1;
        if (count * 4 > SIZE_MAX || !table_.resize(static_cast<std::size_t>(count * 4)) ||
            !chunk_.resize(std::max<std::size_t>(granule_, std::size_t{64} << 10) / granule_ * granule_)) {
            failed_ = true;
            table_.release();
            return false;
        }
        entries()[0] = 0;
        filled_ = 1;
        return true;
    }

    // Reads the next chunk of whole granules and extends the table.
    bool fill_more()
    {
        const std::uint64_t start = (filled_ - 1) * granule_;
        const auto length = static_cast<std::size_t>(
            std::min<std::uint64_t>(chunk_.size(), (table_.size() / 4 - filled_) * granule_));
        if (!source_.read_at(start, chunk_.data(), length))
            return false;
        std::uint32_t running = entries()[filled_ - 1];
        for (std::size_t at = 0; at < length; at += granule_) {
            running += static_cast<std::uint32_t>(mio0::count_ones(chunk_.data() + at, granule_));
            entries()[filled_++] = running;
        }
        return true;
    }

    ScanSource& source_;
    std::size_t granule_;
    ByteBuffer table_;
    ByteBuffer chunk_;
    std::uint64_t filled_ = 0; // entries computed
    bool failed_ = false;
};

// The scan: pieces of the file screened for magics, each candidate checked
// through a BlockInput that serves bytes from the piece at hand when it
// holds them and reads them otherwise.
class Scanner {
public:
    Scanner(ScanSource& source, const ScanTuning& tuning)
        : source_(source), tuning_(tuning), ones_(source, std::max<std::size_t>(tuning.ones_granule, 1)),
          candidate_(*this)
    {
    }

    DecodeStatus run(ListingSink& sink)
    {
        const std::size_t piece_size = std::max<std::size_t>(tuning_.piece, 1);
        if (!piece_.resize(piece_size + magic_overlap) || !scratch_.resize(2 * granule()))
            return DecodeStatus::OutOfMemory;
        DecodeStatus status = DecodeStatus::Ok;
        const std::uint64_t size = source_.size();
        for (std::uint64_t start = 0; start < size && start <= last_offset && status == DecodeStatus::Ok;
             start += piece_size) {
            held_ = static_cast<std::size_t>(std::min<std::uint64_t>(piece_.size(), size - start));
            piece_start_ = start;
            if (!source_.read_at(start, piece_.data(), held_))
                return DecodeStatus::InputReadFailed;
            scan_magics(piece_.data(), std::min(held_, piece_size), held_, [&](std::size_t at) {
                const std::uint64_t offset = start + at;
                if (offset > last_offset)
                    return false;
                status = check_candidate(offset, sink);
                return status == DecodeStatus::Ok;
            });
        }
        return status;
    }

private:
    class Candidate final : public mio0::BlockInput {
    public:
        explicit Candidate(Scanner& scanner) : BlockInput(0), scanner_(scanner) {}
        void place(std::uint64_t offset)
        {
            offset_ = offset;
            available_ = scanner_.source_.size() - offset;
        }
        bool read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length) override
        {
            return scanner_.read(offset_ + at, bytes, length);
        }
        bool count_ones_stored(std::uint64_t from, std::uint64_t to, std::uint64_t& ones) override
        {
            return scanner_.count_ones(offset_ + from, offset_ + to, ones);
        }

    private:
        Scanner& scanner_;
        std::uint64_t offset_ = 0;
    };

    std::size_t granule() const { return std::max<std::size_t>(tuning_.ones_granule, 1); }

    bool read(std::uint64_t at, std::uint8_t* bytes, std::size_t length)
    {
        if (at >= piece_start_ && at - piece_start_ <= held_ && length <= held_ - (at - piece_start_)) {
            if (length > 0)
                std::memcpy(bytes, piece_.data() + (at - piece_start_), length);
            return true;
        }
        return source_.read_at(at, bytes, length);
    }

    // Reads and counts a range of at most two granules.
    bool count_directly(std::uint64_t from, std::uint64_t to, std::uint64_t& ones)
    {
        const auto length = static_cast<std::size_t>(to - from);
        if (!read(from, scratch_.data(), length))
            return false;
        ones = mio0::count_ones(scratch_.data(), length);
        return true;
    }

    bool count_ones(std::uint64_t from, std::uint64_t to, std::uint64_t& ones)
    {
        const std::uint64_t g = granule();
        if (to - from <= 2 * g)
            return count_directly(from, to, ones);
        // The granules that lie whole inside the range come from the table;
        // the ends, less than a granule each, are counted here.
        const std::uint64_t inner_from = (from + g - 1) / g * g;
        const std::uint64_t inner_to = to / g * g;
        std::uint64_t head = 0;
        std::uint64_t inner = 0;
        std::uint64_t tail = 0;
        bool usable = true;
        if (!ones_.count(inner_from, inner_to, inner, usable))
            return false;
        if (!usable) // no room for the table: count the range piece by piece
            return candidate_.BlockInput::count_ones_stored(from - candidate_offset_, to - candidate_offset_, ones);
        if (!count_directly(from, inner_from, head) || !count_directly(inner_to, to, tail))
            return false;
        ones = head + inner + tail;
        return true;
    }

    DecodeStatus check_candidate(std::uint64_t offset, ListingSink& sink)
    {
        candidate_offset_ = offset;
        candidate_.place(offset);
        BlockInfo info;
        switch (checker_.check(candidate_, info)) {
        case DecodeStatus::Ok:
            break;
        case DecodeStatus::InputReadFailed:
            return DecodeStatus::InputReadFailed;
        default:
            return DecodeStatus::Ok; // not a block
        }
        const FoundBlock found{offset, info.header.swapped, info.header.decompressed_size, info.stored_length()};
        return sink.found(found) ? DecodeStatus::Ok : DecodeStatus::WriteFailed;
    }

    ScanSource& source_;
    ScanTuning tuning_;
    OnesTable ones_;
    Candidate candidate_;
    BlockChecker checker_;
    ByteBuffer piece_;
    ByteBuffer scratch_;
    std::uint64_t piece_start_ = 0;
    std::size_t held_ = 0;
    std::uint64_t candidate_offset_ = 0;
};

class Collector final : public ListingSink {
public:
    explicit Collector(std::vector<FoundBlock>& blocks) : blocks_(blocks) {}
    bool found(const FoundBlock& block) override
    {
        blocks_.push_back(block);
        return true;
    }

private:
    std::vector<FoundBlock>& blocks_;
};

// Writes the rows to a destination that it creates at the first one, in
// pieces of a few dozen kilobytes.
class ListingWriter final : public ListingSink {
public:
    explicit ListingWriter(const char* destination) : destination_(destination) {}

    bool found(const FoundBlock& block) override
    {
        if (!opened_) {
            if (!file_.open(destination_))
                return false;
            opened_ = true;
            pending_ = listing_header();
        }
        pending_ += format_row(block);
        return pending_.size() < flush_at || flush();
    }

    bool any() const { return opened_; }
    [[nodiscard]] bool finish() { return flush() && file_.finish(); }
    void discard()
    {
        if (opened_)
            file_.discard();
    }

private:
    static constexpr std::size_t flush_at = std::size_t{64} << 10;

    bool flush()
    {
        const bool written = file_.write(reinterpret_cast<const std::uint8_t*>(pending_.data()), pending_.size());
        pending_.clear();
        return written;
    }

    const char* destination_;
    OutputFile file_;
    bool opened_ = false;
    std::string pending_;
};

} // namespace

DecodeStatus scan_file(const char* path, ListingSink& sink, const ScanTuning& tuning)
{
    InputFile input;
    if (!input.open(path))
        return DecodeStatus::InputUnopenable;
    if (const std::int64_t size = input.regular_size(); size >= 0) {
        FileSource source(input, static_cast<std::uint64_t>(size));
        Scanner scanner(source, tuning);
        return scanner.run(sink);
    }
    // A pipe: the checks need random access, so it is copied first, to a
    // temporary file where one can be made, so that memory stays small;
    // into memory where none can.
    // No block that the listing can report reaches past its last offset,
    // 2^32 - 1, plus the longest extent, L + N below 2^33: an endless pipe
    // is held only that far.
    constexpr std::uint64_t farthest_needed = 0xFFFFFFFFu + (std::uint64_t{1} << 33);
    InputFile spooled;
    switch (spooled.open_spooled(input, farthest_needed)) {
    case InputStatus::Ok: {
        input.close();
        FileSource source(spooled, static_cast<std::uint64_t>(std::max<std::int64_t>(spooled.regular_size(), 0)));
        Scanner scanner(source, tuning);
        return scanner.run(sink);
    }
    case InputStatus::OpenFailed:
        break;
    case InputStatus::OutOfMemory:
    case InputStatus::TooLarge:
        return DecodeStatus::OutOfMemory;
    case InputStatus::ReadFailed:
        return DecodeStatus::InputReadFailed;
    }
    ByteBuffer all;
    switch (read_to_end(input, all, UINT64_MAX)) {
    case InputStatus::Ok:
        break;
    case InputStatus::OutOfMemory:
    case InputStatus::TooLarge:
        return DecodeStatus::OutOfMemory;
    case InputStatus::OpenFailed:
    case InputStatus::ReadFailed:
        return DecodeStatus::InputReadFailed;
    }
    MemorySource source({all.data(), all.size()});
    Scanner scanner(source, tuning);
    return scanner.run(sink);
}

std::vector<FoundBlock> find_blocks(std::span<const std::uint8_t> file, const ScanTuning& tuning)
{
    std::vector<FoundBlock> blocks;
    Collector collector(blocks);
    MemorySource source(file);
    Scanner scanner(source, tuning);
    (void)scanner.run(collector); // memory never fails to read
    return blocks;
}

std::string listing_header() { return "offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n"; }

std::string format_row(const FoundBlock& block)
{
    char line[128];
    const int length = std::snprintf(line, sizeof line, "%llu\t0x%08llX\t%s\t%lu\t%llu\n",
                                     static_cast<unsigned long long>(block.offset),
                                     static_cast<unsigned long long>(block.offset), block.swapped ? "IM0O" : "MIO0",
                                     static_cast<unsigned long>(block.decompressed_size),
                                     static_cast<unsigned long long>(block.stored_length));
    return {line, static_cast<std::size_t>(length)};
}

DecodeStatus list_blocks(const char* path, const char* destination, const ScanTuning& tuning)
{
    ListingWriter writer(destination);
    const DecodeStatus status = scan_file(path, writer, tuning);
    if (status != DecodeStatus::Ok) {
        writer.discard();
        return status;
    }
    if (!writer.any())
        return DecodeStatus::NoBlocks;
    return writer.finish() ? DecodeStatus::Ok : DecodeStatus::WriteFailed;
}
