#include "block_input.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "byte_pairs.hpp"
#include "file_io.hpp"
#include "mio0_format.hpp"

namespace mio0 {

namespace {

template <typename Word>
std::uint64_t count_ones_words(const std::uint8_t* bytes, std::size_t length)
{
    std::uint64_t ones = 0;
    std::size_t k = 0;
    for (; k + 4 * sizeof(Word) <= length; k += 4 * sizeof(Word)) {
        Word w[4];
        std::memcpy(w, bytes + k, sizeof w);
        ones += static_cast<unsigned>(std::popcount(w[0])) + static_cast<unsigned>(std::popcount(w[1])) +
                static_cast<unsigned>(std::popcount(w[2])) + static_cast<unsigned>(std::popcount(w[3]));
    }
    for (; k < length; ++k)
        ones += static_cast<unsigned>(std::popcount(bytes[k]));
    return ones;
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
[[gnu::target("popcnt")]] std::uint64_t count_ones_popcnt(const std::uint8_t* bytes, std::size_t length)
{
    return count_ones_words<std::uint64_t>(bytes, length);
}
#endif

constexpr std::size_t count_piece = std::size_t{64} << 10;

} // namespace

std::uint64_t count_ones(const std::uint8_t* bytes, std::size_t length)
{
#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
    static const bool has_popcnt = __builtin_cpu_supports("popcnt");
    if (has_popcnt)
        return count_ones_popcnt(bytes, length);
#endif
    return count_ones_words<std::uint64_t>(bytes, length);
}

bool BlockInput::count_ones_stored(std::uint64_t from, std::uint64_t to, std::uint64_t& ones)
{
    ones = 0;
    if (from >= to)
        return true;
    if (!scratch_.resize(static_cast<std::size_t>(std::min<std::uint64_t>(to - from, count_piece))))
        return false;
    for (std::uint64_t at = from; at < to;) {
        const auto piece = static_cast<std::size_t>(std::min<std::uint64_t>(to - at, count_piece));
        if (!read_stored(at, scratch_.data(), piece))
            return false;
        ones += mio0::count_ones(scratch_.data(), piece);
        at += piece;
    }
    return true;
}

bool BlockInput::read(std::uint64_t at, std::uint8_t* bytes, std::size_t length, bool swapped)
{
    if (!swapped)
        return read_stored(at, bytes, length);
    if (length == 0)
        return true;
    // The stored pairs that hold block bytes [at, at + length): from the
    // even position at or below `at` to the even position at or above the
    // end, or the input's end. Swapping them as a file would puts every
    // byte back, an odd last byte of the input included.
    const std::uint64_t first = at & ~std::uint64_t{1};
    const std::uint64_t last = std::min((at + length + 1) & ~std::uint64_t{1}, available_);
    const auto stored = static_cast<std::size_t>(last - first);
    if (scratch_.size() < stored && !scratch_.resize(stored))
        return false;
    if (!read_stored(first, scratch_.data(), stored))
        return false;
    swap_byte_pairs(scratch_.data(), stored);
    std::memcpy(bytes, scratch_.data() + (at - first), length);
    return true;
}

bool BlockInput::count_ones(std::uint64_t from, std::uint64_t to, bool swapped, std::uint64_t& ones)
{
    if (!swapped || to % 2 == 0 || to <= from)
        return count_ones_stored(from, to, ones); // the same stored bytes, in another order
    // An odd end: block byte to - 1 is stored at `to`, or at to - 1 itself
    // where the input ends there.
    std::uint8_t last = 0;
    if (!count_ones_stored(from, to - 1, ones) || !read_stored(stored_position(to - 1, available_, true), &last, 1))
        return false;
    ones += static_cast<unsigned>(std::popcount(last));
    return true;
}

bool MemoryInput::read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length)
{
    if (at > bytes_.size() || length > bytes_.size() - at)
        return false;
    if (length > 0)
        std::memcpy(bytes, bytes_.data() + at, length);
    return true;
}

bool FileInput::read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length)
{
    return read_exactly_at(file_, bytes, length, offset_ + at);
}

bool PieceStream::reset(BlockInput& input, bool swapped, std::uint64_t start, std::uint64_t length,
                        std::size_t piece)
{
    input_ = &input;
    swapped_ = swapped;
    failed_ = false;
    next_ = start;
    remaining_ = length;
    piece_ = std::max(slack, static_cast<std::size_t>(std::min<std::uint64_t>(piece, length)));
    if (buffer_.size() < piece_ + slack) {
        // Zeros, so that the slack a wide copy reads past the range is
        // never uninitialised memory.
        if (!buffer_.assign_zeros(piece_ + slack))
            return false;
    }
    cur = end = buffer_.data();
    return true;
}

std::size_t PieceStream::refill(std::size_t want)
{
    (void)want;
    const auto have = static_cast<std::size_t>(end - cur);
    if (remaining_ == 0 || failed_)
        return have;
    std::uint8_t* const base = buffer_.data();
    if (have > 0)
        std::memmove(base, cur, have);
    const auto take = static_cast<std::size_t>(std::min<std::uint64_t>(piece_ - have, remaining_));
    cur = base;
    end = base + have;
    if (!input_->read(next_, base + have, take, swapped_)) {
        failed_ = true;
        return have;
    }
    next_ += take;
    remaining_ -= take;
    end += take;
    return have + take;
}

} // namespace mio0
