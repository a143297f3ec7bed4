#pragma once

// The one walk over a block's layout bits and pairs. Decoding is the walk
// with a sink that copies bytes (CopySink); checking is the same walk with a
// sink that copies nothing (CountSink). A block is therefore accepted by the
// check exactly when decoding it succeeds.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "block_input.hpp"
#include "byte_buffer.hpp"
#include "mio0_format.hpp"

namespace mio0 {

enum class WalkEnd : std::uint8_t {
    Done,         // `end` bytes produced, flags used up, or a 0 flag with no pair left
    BadReference, // a pair reaching before the first output byte
    ReadFailed,   // a stream could not be read
    SinkFailed,   // the sink gave up (its own reason)
};

// Beyond max_distance bytes of output no pair can reach before the first
// byte, so a check needs to walk only that far. Every flag produces at least
// one byte and every pair at least min_match, unless it ends the walk, so
// the check reads at most these many layout bytes and pairs.
inline constexpr std::uint32_t check_horizon = max_distance;
inline constexpr std::uint32_t check_layout_bytes = check_horizon / 8;
inline constexpr std::uint32_t check_pairs = (check_horizon + min_match - 1) / min_match;

// Walks the flags in `layout` (the layout region) and the words in `pairs`
// (the pair_count pairs, 2 bytes each) until `end` bytes are produced,
// counting the bytes in `produced` and telling `sink` each token:
// literals(n) for n literal flags in a row, and pair(distance, n) for a
// back-reference of n bytes (its length cut at `end`). Bounds are checked
// once per token: sinks get at most 64 literals at a time and only pairs
// whose distance lies within the bytes produced.
//
// The cursors of the hot loop (the streams' and the sink's) are local
// values, handed to the slow paths and taken back by value, so that the
// compiler keeps them in registers: a byte store through the output could
// otherwise alias any cursor held in memory.
template <typename Sink>
WalkEnd walk_block(PieceStream& layout, PieceStream& pairs, std::uint32_t pair_count, std::uint32_t end,
                   Sink& sink, std::uint32_t& produced)
{
    std::uint32_t done = 0;
    std::uint32_t pairs_left = pair_count;
    typename Sink::Cursor out = sink.begin();
    const std::uint8_t* pair_at = pairs.cur;
    const std::uint8_t* pair_end = pairs.end;
    auto stop = [&](WalkEnd why) {
        sink.end(out);
        pairs.cur = pair_at;
        produced = done;
        return why;
    };
    while (done < end) {
        // The next 64 flags, or the last few, with zero bits past them.
        const std::size_t have = layout.fill(8);
        std::uint64_t bits = 0;
        unsigned count = 0;
        if (have >= 8) {
            std::memcpy(&bits, layout.cur, 8);
            if constexpr (std::endian::native == std::endian::little)
                bits = __builtin_bswap64(bits);
            count = 64;
            layout.cur += 8;
        } else if (have == 0) {
            return stop(layout.failed() ? WalkEnd::ReadFailed : WalkEnd::Done);
        } else {
            for (std::size_t k = 0; k < have; ++k)
                bits |= std::uint64_t{layout.cur[k]} << (56 - 8 * k);
            count = static_cast<unsigned>(8 * have);
            layout.cur += have;
        }
        for (;;) {
            // The bits past `count` are zero, so a run of ones never passes it.
            const auto run = static_cast<unsigned>(std::countl_one(bits));
            if (run != 0) {
                const std::uint32_t n = std::min<std::uint32_t>(run, end - done);
                if (!sink.literals(out, n))
                    return stop(WalkEnd::SinkFailed);
                done += n;
                if (done == end)
                    return stop(WalkEnd::Done);
                if (run == count)
                    break;
                bits <<= run; // run < count <= 64
                count -= run;
            }
            // A 0 flag: the next pair.
            bits <<= 1;
            --count;
            if (pairs_left == 0)
                return stop(WalkEnd::Done);
            if (pair_end - pair_at < 2) {
                pairs.cur = pair_at;
                if (pairs.fill(2) < 2)
                    return stop(WalkEnd::ReadFailed);
                pair_at = pairs.cur;
                pair_end = pairs.end;
            }
            const auto word = static_cast<std::uint16_t>(pair_at[0] << 8 | pair_at[1]);
            pair_at += 2;
            --pairs_left;
            const std::uint32_t distance = pair_distance(word);
            if (distance > done)
                return stop(WalkEnd::BadReference);
            const std::uint32_t n = std::min<std::uint32_t>(pair_length(word), end - done);
            if (!sink.pair(out, distance, n))
                return stop(WalkEnd::SinkFailed);
            done += n;
            if (done == end)
                return stop(WalkEnd::Done);
            if (count == 0)
                break;
        }
    }
    return stop(WalkEnd::Done);
}

// The checking sink: output positions are all a check needs, and the walk
// counts them itself.
struct CountSink {
    struct Cursor {};
    Cursor begin() { return {}; }
    void end(Cursor) {}
    bool literals(Cursor&, std::uint32_t) { return true; }
    bool pair(Cursor&, std::uint32_t, std::uint32_t) { return true; }
};

// Where a decoder's output goes, piece by piece.
class OutputTarget {
public:
    virtual ~OutputTarget() = default;
    [[nodiscard]] virtual bool take(const std::uint8_t* bytes, std::size_t length) = 0;
};

// The copying sink: output goes into a window that keeps the last
// max_distance bytes for back-references and passes the bytes before them
// on to `target` in pieces of about `piece` bytes. Literal bytes come from
// `literals`, whose range holds every literal the flags can take.
class CopySink {
public:
    // A token writes whole 16-byte moves: up to 64 bytes for a literal run,
    // 32 for a pair, from a place at most flush_at.
    static constexpr std::size_t most_per_token = 64;

    struct Cursor {
        std::uint8_t* out;            // the next output byte
        std::uint8_t* flush_at;       // past this, the window is passed on
        const std::uint8_t* literal;  // the next literal byte
        const std::uint8_t* literals_end;
    };

    CopySink(PieceStream& literals, OutputTarget& target) : literals_(literals), target_(target) {}
    CopySink(const CopySink&) = delete;
    CopySink& operator=(const CopySink&) = delete;

    [[nodiscard]] bool reset(std::size_t piece)
    {
        flush_at_ = max_distance + std::max<std::size_t>(piece, 1);
        const std::size_t size = flush_at_ + most_per_token;
        if (window_.size() != size && !window_.assign_zeros(size))
            return false;
        pos_ = taken_ = 0;
        failed_read_ = false;
        return true;
    }

    Cursor begin()
    {
        return {window_.data() + pos_, window_.data() + flush_at_, literals_.cur, literals_.end};
    }
    void end(Cursor c)
    {
        pos_ = static_cast<std::size_t>(c.out - window_.data());
        literals_.cur = c.literal;
    }

    [[gnu::always_inline]] bool literals(Cursor& c, std::uint32_t n)
    {
        if (static_cast<std::size_t>(c.literals_end - c.literal) < n) {
            c = refill_literals(c, n);
            if (c.literal == nullptr)
                return false;
        }
        if (c.out > c.flush_at) {
            c = flush(c);
            if (c.out == nullptr)
                return false;
        }
        // n <= 64: the literal stream's slack and the window's room past
        // flush_at take the whole moves past n.
        std::memcpy(c.out, c.literal, 32);
        if (n > 32)
            std::memcpy(c.out + 32, c.literal + 32, 32);
        c.literal += n;
        c.out += n;
        return true;
    }

    [[gnu::always_inline]] bool pair(Cursor& c, std::uint32_t distance, std::uint32_t n)
    {
        if (c.out > c.flush_at) {
            c = flush(c);
            if (c.out == nullptr)
                return false;
        }
        // The walk checked distance <= bytes produced, and the window holds
        // the last max_distance of them, so src stays inside the window.
        std::uint8_t* dst = c.out;
        const std::uint8_t* src = dst - distance;
        if (distance >= 16) {
            // Each 16-byte move reads only bytes written before it.
            std::memcpy(dst, src, 16);
            std::memcpy(dst + 16, src + 16, 16);
        } else if (distance >= 8) {
            std::memcpy(dst, src, 8);
            std::memcpy(dst + 8, src + 8, 8);
            std::memcpy(dst + 16, src + 16, 8);
        } else {
            // A short distance repeats its pattern, one byte at a time.
            for (std::uint32_t t = 0; t < n; ++t)
                dst[t] = src[t];
        }
        c.out += n;
        return true;
    }

    // Passes on every byte still held. False when the target refused.
    [[nodiscard]] bool finish() { return pos_ == taken_ || target_.take(window_.data() + taken_, pos_ - taken_); }

    bool failed_read() const { return failed_read_; }

private:
    // The slow paths take the cursor and give it back, null on failure.
    [[gnu::noinline]] Cursor refill_literals(Cursor c, std::uint32_t n)
    {
        literals_.cur = c.literal;
        if (literals_.fill(n) < n) {
            failed_read_ = true;
            c.literal = nullptr;
            return c;
        }
        c.literal = literals_.cur;
        c.literals_end = literals_.end;
        return c;
    }

    [[gnu::noinline]] Cursor flush(Cursor c)
    {
        std::uint8_t* const window = window_.data();
        const auto pos = static_cast<std::size_t>(c.out - window);
        if (!target_.take(window + taken_, pos - taken_)) {
            c.out = nullptr;
            return c;
        }
        std::memmove(window, window + pos - max_distance, max_distance);
        taken_ = max_distance;
        c.out = window + max_distance;
        return c;
    }

    PieceStream& literals_;
    OutputTarget& target_;
    ByteBuffer window_;
    std::size_t flush_at_ = 0;
    std::size_t pos_ = 0;   // the next byte's place in the window
    std::size_t taken_ = 0; // bytes of the window passed on already
    bool failed_read_ = false;
};

static_assert(PieceStream::slack >= CopySink::most_per_token, "a literal move reads up to 64 bytes");

} // namespace mio0
