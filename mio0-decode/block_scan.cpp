#include "block_scan.hpp"

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "file_io.hpp"
#include "mio0_format.hpp"


namespace {

// A region of a block as the decoder sees it once the region's own read has
// been put back in order: in pair-swapped storage logical byte b is stored
// at b ^ 1, except an odd last byte, which stays where it is.
class Region {
public:
    Region(const std::uint8_t* stored, std::uint64_t length, bool swapped)
        : stored_(stored), length_(length), flip_(swapped ? 1 : 0)
    {
    }
    std::uint8_t operator[](std::uint64_t b) const
    {
        const std::uint64_t at = b ^ flip_;
        return stored_[at < length_ ? at : b];
    }

private:
    const std::uint8_t* stored_;
    std::uint64_t length_;
    std::uint64_t flip_;
};

// Follows the decoder's loop over the flags, counting output positions.
DecodeStatus check_references(const Region& body, const BlockHeader& header)
{
    const std::uint32_t size = header.decompressed_size;
    const std::uint32_t layout = header.layout_length();
    const std::uint32_t pairs = header.pair_count();
    std::uint32_t i = 0;
    std::uint32_t l = 0;
    for (std::uint32_t b = 0; b < layout && i < size; ++b) {
        const unsigned byte = body[b];
        if (byte == 0xFF && size - i >= 8) {
            i += 8;
            continue;
        }
        for (unsigned bit = 0x80; bit != 0 && i < size; bit >>= 1) {
            if ((byte & bit) != 0) {
                ++i;
                continue;
            }
            if (l == pairs)
                return DecodeStatus::Ok;
            const std::uint64_t p = layout + 2 * std::uint64_t{l};
            const auto word = static_cast<std::uint16_t>(body[p] << 8 | body[p + 1]);
            ++l;
            if (mio0::pair_distance(word) > i)
                return DecodeStatus::NotMio0;
            i += std::min<std::uint32_t>(mio0::pair_length(word), size - i);
        }
    }
    return DecodeStatus::Ok;
}

} // namespace

DecodeStatus check_block(std::span<const std::uint8_t> file, std::uint64_t offset, FoundBlock& found)
{
    if (offset > file.size())
        return DecodeStatus::NotMio0;
    found.offset = offset;
    return check_block_bytes(file.subspan(static_cast<std::size_t>(offset)), file.size() - offset, found);
}

DecodeStatus check_block_bytes(std::span<const std::uint8_t> bytes, std::uint64_t available, FoundBlock& found)
{
    if (available < mio0::header_size)
        return DecodeStatus::NotMio0;
    const std::uint8_t* const block = bytes.data();
    BlockHeader header;
    if (const DecodeStatus status = check_header(block, header); status != DecodeStatus::Ok)
        return status;
    if (available - mio0::header_size < header.body_length())
        return DecodeStatus::NotMio0;

    const Region body(block + mio0::header_size, header.body_length(), header.swapped);
    std::uint64_t literal_count = 0;
    if (header.swapped) {
        for (std::uint32_t b = 0; b < header.layout_length(); ++b)
            literal_count += static_cast<unsigned>(std::popcount(body[b]));
    } else {
        const std::uint8_t* layout = block + mio0::header_size;
        for (std::uint32_t b = 0; b < header.layout_length(); ++b)
            literal_count += static_cast<unsigned>(std::popcount(layout[b]));
    }
    if (available - header.literals_offset < literal_count)
        return DecodeStatus::NotMio0;
    if (const DecodeStatus status = check_references(body, header); status != DecodeStatus::Ok)
        return status;

    found.swapped = header.swapped;
    found.decompressed_size = header.decompressed_size;
    found.stored_length = header.literals_offset + literal_count;
    return DecodeStatus::Ok;
}

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
#define MIO0_SCAN_AVX2 1

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
#if defined(MIO0_SCAN_AVX2)
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

// Pieces in which a file is read for the scan. The kernel's copy into a
// buffer that stays in the cache runs at twice the speed of a scan of a
// mapping, whose every 4 KiB page costs a TLB miss or a fault.
constexpr std::size_t scan_piece = std::size_t{64} << 10;
constexpr std::size_t magic_overlap = 3;

bool read_exactly_at(InputFile& input, std::uint8_t* bytes, std::size_t length, std::uint64_t offset)
{
    return input.read_at(bytes, length, offset) == static_cast<std::int64_t>(length);
}

// Checks the candidate at `offset`, whose first bytes are `held`, and
// appends it when it decodes. It is checked in the piece when its header
// and body lie there, and otherwise read into `scratch`, only once its
// header has shown that the body lies in the file. Kept out of line: inlined into the scan loop
// it costs the loop more than the rare call does.
[[gnu::noinline]] DecodeStatus check_candidate(InputFile& input, std::uint64_t size, std::uint64_t offset,
                                               std::span<const std::uint8_t> held, ByteBuffer& scratch,
                                               std::vector<FoundBlock>& blocks)
{
    const std::uint64_t available = size - offset;
    if (available < mio0::header_size)
        return DecodeStatus::Ok;
    const std::uint8_t* bytes = held.data();
    std::uint8_t header_bytes[mio0::header_size];
    if (held.size() < mio0::header_size) {
        if (!read_exactly_at(input, header_bytes, sizeof header_bytes, offset))
            return DecodeStatus::OpenFailed;
        bytes = header_bytes;
    }
    BlockHeader header;
    if (check_header(bytes, header) != DecodeStatus::Ok || available - mio0::header_size < header.body_length())
        return DecodeStatus::Ok;
    // Only the layout bits and the pairs that the flags can reach are read:
    // a bogus header claiming a vast pairs region costs no more than its
    // layout. One byte more for the partner of a pair-swapped last byte.
    const std::uint64_t reachable_pairs = std::min(header.pair_count(), header.flag_count());
    const auto needed = static_cast<std::size_t>(std::min<std::uint64_t>(
        mio0::header_size + std::uint64_t{header.body_length()},
        mio0::header_size + std::uint64_t{header.layout_length()} + 2 * reachable_pairs + 1));
    if (held.size() < needed) {
        if (!scratch.resize(needed))
            return DecodeStatus::OutOfMemory;
        if (!read_exactly_at(input, scratch.data(), needed, offset))
            return DecodeStatus::OpenFailed;
        bytes = scratch.data();
    }
    FoundBlock found;
    found.offset = offset;
    if (check_block_bytes({bytes, needed}, available, found) == DecodeStatus::Ok)
        blocks.push_back(found);
    return DecodeStatus::Ok;
}

// The scan of a regular file through its descriptor.
DecodeStatus scan_file(InputFile& input, std::uint64_t size, std::vector<FoundBlock>& blocks)
{
    ByteBuffer piece;
    ByteBuffer scratch;
    if (!piece.resize(scan_piece + magic_overlap))
        return DecodeStatus::OutOfMemory;
    DecodeStatus status = DecodeStatus::Ok;
    for (std::uint64_t start = 0; start < size && start <= last_offset && status == DecodeStatus::Ok;
         start += scan_piece) {
        const auto held = static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), size - start));
        if (!read_exactly_at(input, piece.data(), held, start))
            return DecodeStatus::OpenFailed;
        const std::size_t scanned = std::min(held, scan_piece);
        scan_magics(piece.data(), scanned, held, [&](std::size_t at) {
            const std::uint64_t offset = start + at;
            if (offset > last_offset)
                return false;
            status = check_candidate(input, size, offset, {piece.data() + at, held - at}, scratch, blocks);
            return status == DecodeStatus::Ok;
        });
    }
    return status;
}

} // namespace

std::vector<FoundBlock> find_blocks(std::span<const std::uint8_t> file)
{
    std::vector<FoundBlock> blocks;
    scan_magics(file.data(), file.size(), file.size(), [&](std::size_t offset) {
        if (offset > last_offset)
            return false;
        FoundBlock found;
        if (check_block(file, offset, found) == DecodeStatus::Ok)
            blocks.push_back(found);
        return true;
    });
    return blocks;
}

DecodeStatus list_blocks(const char* path, std::vector<FoundBlock>& blocks)
{
    InputFile input;
    if (!input.open(path))
        return DecodeStatus::OpenFailed;
    DecodeStatus status = DecodeStatus::Ok;
    const std::int64_t size = input.regular_size();
    if (size >= 0) {
        status = scan_file(input, static_cast<std::uint64_t>(size), blocks);
    } else {
        // A pipe: only a copy in memory gives the random access a check needs.
        ByteBuffer all;
        switch (read_to_end(input, all, UINT64_MAX)) {
        case InputStatus::Ok:
            blocks = find_blocks({all.data(), all.size()});
            break;
        case InputStatus::OutOfMemory:
        case InputStatus::TooLarge:
            status = DecodeStatus::OutOfMemory;
            break;
        case InputStatus::OpenFailed:
        case InputStatus::ReadFailed:
            status = DecodeStatus::OpenFailed;
            break;
        }
    }
    return status;
}

std::string format_listing(const std::vector<FoundBlock>& blocks)
{
    std::string text = "offset\thex_offset\tstorage\tdecompressed_size\tstored_length\n";
    char line[128];
    for (const FoundBlock& block : blocks) {
        const int length = std::snprintf(line, sizeof line, "%llu\t0x%08llX\t%s\t%lu\t%llu\n",
                                         static_cast<unsigned long long>(block.offset),
                                         static_cast<unsigned long long>(block.offset),
                                         block.swapped ? "IM0O" : "MIO0",
                                         static_cast<unsigned long>(block.decompressed_size),
                                         static_cast<unsigned long long>(block.stored_length));
        text.append(line, static_cast<std::size_t>(length));
    }
    return text;
}
