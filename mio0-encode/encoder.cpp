#include "encoder.hpp"

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <thread>
#include <vector>

#include "match_finder.hpp"
#include "mio0_format.hpp"

namespace {

// Where the tokens of the parse go, in order: one flag per token in the
// layout region, pair words and literal bytes each in their own stream.
// Each stream is sized for the most it can get from n input bytes.
class TokenStreams {
public:
    TokenStreams(std::uint8_t* layout, std::uint8_t* pairs, std::uint8_t* literals)
        : layout_(layout), pairs_(pairs), literals_(literals)
    {
    }

    void literal(std::uint8_t byte)
    {
        flags_ |= std::uint32_t{1} << (31 - flag_count_);
        *literals_++ = byte;
        ++literal_count_;
        next_flag();
    }

    void pair(std::uint16_t word)
    {
        *pairs_++ = static_cast<std::uint8_t>(word >> 8);
        *pairs_++ = static_cast<std::uint8_t>(word);
        ++pair_count_;
        next_flag();
    }

    // Writes the last flags, padded with zero bits to a whole 32-bit word.
    void finish()
    {
        if (flag_count_ != 0)
            mio0::write_be32(layout_, flags_);
    }

    std::uint64_t tokens() const { return pair_count_ + literal_count_; }
    std::uint64_t pairs() const { return pair_count_; }
    std::uint64_t literals() const { return literal_count_; }

private:
    void next_flag()
    {
        if (++flag_count_ == 32) {
            mio0::write_be32(layout_, flags_);
            layout_ += 4;
            flags_ = 0;
            flag_count_ = 0;
        }
    }

    std::uint8_t* layout_;
    std::uint8_t* pairs_;
    std::uint8_t* literals_;
    std::uint32_t flags_ = 0;
    unsigned flag_count_ = 0;
    std::uint64_t pair_count_ = 0;
    std::uint64_t literal_count_ = 0;
};

// The parse is a shortest path over positions 0..n: a literal leads from p
// to p + 1, a match of length m found at p leads to p + len for every len
// from 3 to m (a prefix of a match is a match at the same distance).
// Relaxing edges in position order needs the costs of the next 18
// positions only, kept in a ring.
//
// The chosen edge into each position is kept, as the pair word it would be
// written as, only until the path through it is known: every edge is at
// most 18 bytes long, so the path to the end passes through one of any 18
// consecutive final positions, and where the back chains of the newest 18
// meet, the path up to that point is settled whatever comes later.
//
// Of two edges that reach a position at equal cost, the one from the later
// position is kept. Then the chains of a run of equal bytes all pass
// through the ends of its 18-byte pairs and meet within a token or two;
// kept the other way, they run side by side, 18 bytes apart, through the
// whole run. On real data they meet within a few tokens, so the kept edges
// fit in a small ring that stays in cache. Inputs whose chains stay apart
// for long make the ring grow, to at most one entry a position.
constexpr std::size_t ring_size = 32;
static_assert(ring_size > mio0::max_match);
constexpr std::uint64_t unreached = std::numeric_limits<std::uint64_t>::max();

class PathBuilder {
public:
    PathBuilder(std::span<const std::uint8_t> input, TokenStreams& out, std::size_t settle_span)
        : input_(input), out_(out), settle_span_(std::max(settle_span, min_settle_span))
    {
        std::fill(std::begin(cost_), std::end(cost_), unreached);
        cost_[0] = 0;
        resize_edges(std::bit_ceil(settle_span_ + 2 * ring_size));
    }

    // Relaxes the edges out of position i, whose cost is final once every
    // earlier position has been stepped.
    void step(std::size_t i, Match match)
    {
        const std::uint64_t here = cost_[i % ring_size];
        cost_[i % ring_size] = unreached; // the slot now stands for i + 32
        const std::uint64_t by_literal = here + mio0::literal_bits;
        if (by_literal <= cost_[(i + 1) % ring_size]) {
            cost_[(i + 1) % ring_size] = by_literal;
            literal_[(i + 1) & edge_mask_] = 1;
        }
        // The cost of i + 1 is final now. A match of length m at i goes on at
        // i + 1 for at least m - 1 bytes, so when i + 1 costs no more than i,
        // its pairs reach every position from i + 4 on at least as cheaply,
        // and win ties as the later ones: of the pairs from i only the one
        // of length 3 can still be kept.
        const unsigned longest = here >= cost_[(i + 1) % ring_size]
                                     ? std::min(match.length, mio0::min_match)
                                     : match.length;
        const std::uint64_t by_pair = here + mio0::pair_bits;
        // Written without branches: whether a pair improves a position is
        // as good as random, and a mispredicted branch costs more than the
        // three selects.
        for (unsigned length = mio0::min_match; length <= longest; ++length) {
            std::uint64_t& target = cost_[(i + length) % ring_size];
            const bool better = by_pair <= target;
            target = better ? by_pair : target;
            const std::size_t slot = (i + length) & edge_mask_;
            const std::uint16_t word = mio0::pair_word(length, match.distance);
            words_[slot] = better ? word : words_[slot];
            literal_[slot] = better ? std::uint8_t{0} : literal_[slot];
        }
        if (i + 1 - settled_ >= settle_span_)
            settle(i + 1);
    }

    // Emits the rest of the path, once every position before n is stepped.
    void finish(std::size_t n)
    {
        emit_path(n);
        out_.finish();
    }

private:
    // Positions 0..frontier are final. Finds where the back chains of the
    // newest 18 meet and emits the path up to there.
    void settle(std::size_t frontier)
    {
        // Bit j of `chains` stands for position p - j, and is set while some
        // chain's next node is there. Taking p's edge moves its bit to the
        // start of that edge. Every chain passes through `settled_`, so the
        // walk stops there at the latest.
        std::uint64_t chains = (std::uint64_t{1} << mio0::max_match) - 1;
        std::size_t p = frontier;
        while (std::popcount(chains) > 1) {
            if ((chains & 1) != 0)
                chains |= std::uint64_t{1} << edge_length(p);
            chains >>= 1;
            --p;
        }
        const std::size_t meet = p - static_cast<std::size_t>(std::countr_zero(chains));
        emit_path(meet);

        // The positions after `meet` stay kept. When they are many, settle
        // less often, so that the walks above cost at most twice the
        // positions stepped between them.
        const std::size_t kept = frontier - meet;
        if (2 * kept > settle_span_) {
            settle_span_ = 2 * kept;
            if (settle_span_ + 2 * ring_size > edge_mask_ + 1)
                resize_edges(std::bit_ceil(settle_span_ + 2 * ring_size), frontier + mio0::max_match - 1);
        }
    }

    // Emits the tokens of the path from `settled_` to `end`, a position
    // the path is known to pass through.
    void emit_path(std::size_t end)
    {
        // Walk back from `end`, moving each chosen edge to the position just
        // after its start: for a literal that is where it already is, and
        // for a pair it is inside the pair's span, which the walk never
        // visits again. The forward pass then finds the token starting at s
        // at s + 1.
        for (std::size_t p = end; p > settled_;) {
            if (literal_[p & edge_mask_] != 0) {
                --p;
                continue;
            }
            const std::uint16_t word = words_[p & edge_mask_];
            p -= mio0::pair_length(word);
            words_[(p + 1) & edge_mask_] = word;
            literal_[(p + 1) & edge_mask_] = 0;
        }
        for (std::size_t s = settled_; s < end;) {
            const std::size_t slot = (s + 1) & edge_mask_;
            if (literal_[slot] != 0) {
                out_.literal(input_[s]);
                ++s;
            } else {
                out_.pair(words_[slot]);
                s += mio0::pair_length(words_[slot]);
            }
        }
        settled_ = end;
    }

    unsigned edge_length(std::size_t p) const
    {
        return literal_[p & edge_mask_] != 0 ? 1 : mio0::pair_length(words_[p & edge_mask_]);
    }

    // Moves the kept edges, positions settled_..last, to rings of `slots`.
    void resize_edges(std::size_t slots, std::size_t last = 0)
    {
        std::vector<std::uint16_t> words(slots);
        std::vector<std::uint8_t> literal(slots);
        const std::size_t mask = slots - 1;
        for (std::size_t p = settled_; p <= last && !words_.empty(); ++p) {
            words[p & mask] = words_[p & edge_mask_];
            literal[p & mask] = literal_[p & edge_mask_];
        }
        words_ = std::move(words);
        literal_ = std::move(literal);
        edge_mask_ = mask;
    }

    // The walk in settle() starts from 18 positions after `settled_`.
    static constexpr std::size_t min_settle_span = mio0::max_match;

    std::span<const std::uint8_t> input_;
    TokenStreams& out_;
    std::uint64_t cost_[ring_size];
    std::vector<std::uint16_t> words_; // [p & edge_mask_]: pair word of the edge into p
    std::vector<std::uint8_t> literal_; // [p & edge_mask_]: 1 when the edge into p is a literal
    std::size_t edge_mask_ = 0;
    std::size_t settled_ = 0;  // the path up to here is emitted
    std::size_t settle_span_;  // positions stepped after settled_ before settling again
};

// Large inputs are parsed in a pipeline: two threads find the matches of
// alternate chunks while this thread walks the shortest path through the
// chunks in order. Each chunk's finder first takes in the 4096 positions
// before the chunk, so it finds exactly the matches a single finder would.
constexpr std::size_t chunk_size = std::size_t{1} << 20;
constexpr std::size_t finder_threads = 2;
constexpr std::size_t chunk_slots = 2 * finder_threads;

struct ChunkMatches {
    std::vector<std::uint8_t> lengths;
    std::vector<std::uint16_t> distances;
    std::size_t ready = SIZE_MAX; // index of the chunk the slot holds
    std::size_t free_for = 0;     // index of the next chunk it may take
};

void find_chunk(std::span<const std::uint8_t> input, MatchFinder& finder, std::size_t chunk,
                ChunkMatches& out)
{
    const std::size_t start = chunk * chunk_size;
    const std::size_t end = std::min(input.size(), start + chunk_size);
    finder.reset();
    for (std::size_t p = start > mio0::max_distance ? start - mio0::max_distance : 0; p < start; ++p)
        (void)finder.find(static_cast<std::uint32_t>(p));
    for (std::size_t p = start; p < end; ++p) {
        const Match match = finder.find(static_cast<std::uint32_t>(p));
        out.lengths[p - start] = static_cast<std::uint8_t>(match.length);
        out.distances[p - start] = static_cast<std::uint16_t>(match.distance);
    }
}

void parse_in_pipeline(std::span<const std::uint8_t> input, PathBuilder& path)
{
    const std::size_t chunks = (input.size() + chunk_size - 1) / chunk_size;
    std::vector<MatchFinder> finders;
    std::vector<ChunkMatches> slots(chunk_slots);
    for (std::size_t t = 0; t < finder_threads; ++t)
        finders.emplace_back(input);
    for (std::size_t k = 0; k < chunk_slots; ++k) {
        slots[k].lengths.resize(chunk_size);
        slots[k].distances.resize(chunk_size);
        slots[k].free_for = k;
    }
    std::mutex mutex;
    std::condition_variable changed;

    const auto work = [&](std::size_t thread) {
        for (std::size_t chunk = thread; chunk < chunks; chunk += finder_threads) {
            ChunkMatches& slot = slots[chunk % chunk_slots];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slot.free_for == chunk; });
            }
            find_chunk(input, finders[thread], chunk, slot);
            {
                const std::lock_guard lock(mutex);
                slot.ready = chunk;
            }
            changed.notify_all();
        }
    };
    std::vector<std::jthread> threads;
    for (std::size_t t = 0; t < finder_threads; ++t)
        threads.emplace_back(work, t);

    for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
        ChunkMatches& slot = slots[chunk % chunk_slots];
        {
            std::unique_lock lock(mutex);
            changed.wait(lock, [&] { return slot.ready == chunk; });
        }
        const std::size_t start = chunk * chunk_size;
        const std::size_t end = std::min(input.size(), start + chunk_size);
        for (std::size_t p = start; p < end; ++p)
            path.step(p, {slot.lengths[p - start], slot.distances[p - start]});
        {
            const std::lock_guard lock(mutex);
            slot.free_for = chunk + chunk_slots;
        }
        changed.notify_all();
    }
}

void shortest_parse(std::span<const std::uint8_t> input, PathBuilder& path)
{
    const std::size_t n = input.size();
    if (n >= 2 * chunk_size && std::thread::hardware_concurrency() > 1) {
        parse_in_pipeline(input, path);
    } else {
        MatchFinder finder(input);
        for (std::size_t i = 0; i < n; ++i)
            path.step(i, finder.find(static_cast<std::uint32_t>(i)));
    }
    path.finish(n);
}

} // namespace

EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block, std::size_t settle_span)
{
    const std::size_t n = input.size();
    if (n > max_encode_input)
        return EncodeStatus::TooLarge;

    // The block is built with room for the most flags and pairs n bytes can
    // give, the literals beside it; the pairs and literals are moved next to
    // the layout once its size is known. Pages that are never written cost
    // no memory.
    const std::size_t layout_room = (n + 31) / 32 * 4;
    const std::size_t pairs_room = n / mio0::min_match * 2;
    const std::size_t pairs_at = mio0::header_size + layout_room;
    ByteBuffer literals;
    if (!block.resize(pairs_at + pairs_room) || !literals.resize(n))
        return EncodeStatus::OutOfMemory;
    TokenStreams tokens(block.data() + mio0::header_size, block.data() + pairs_at, literals.data());
    try {
        PathBuilder path(input, tokens, settle_span);
        shortest_parse(input, path);
    } catch (const std::exception&) {
        return EncodeStatus::OutOfMemory; // the match finder's tables, the kept edges
    }

    const std::uint64_t layout_bytes = (tokens.tokens() + 31) / 32 * 4;
    if (layout_bytes > mio0::max_layout_bytes)
        return EncodeStatus::TooLarge;
    const std::uint64_t pairs_offset = mio0::header_size + layout_bytes;
    const std::uint64_t literals_offset = pairs_offset + 2 * tokens.pairs();
    if (literals_offset > 0xFFFFFFFFu)
        return EncodeStatus::TooLarge;
    std::memmove(block.data() + pairs_offset, block.data() + pairs_at, static_cast<std::size_t>(2 * tokens.pairs()));
    if (!block.resize(static_cast<std::size_t>(literals_offset + tokens.literals())))
        return EncodeStatus::OutOfMemory;
    if (tokens.literals() != 0)
        std::memcpy(block.data() + literals_offset, literals.data(), static_cast<std::size_t>(tokens.literals()));

    std::uint8_t* const out = block.data();
    std::memcpy(out, mio0::magic.data(), mio0::magic.size());
    mio0::write_be32(out + 4, static_cast<std::uint32_t>(n));
    mio0::write_be32(out + 8, static_cast<std::uint32_t>(pairs_offset));
    mio0::write_be32(out + 12, static_cast<std::uint32_t>(literals_offset));
    return EncodeStatus::Ok;
}
