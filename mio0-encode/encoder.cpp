#include "encoder.hpp"

#include <algorithm>
#include <bit>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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
// Relaxing edges in position order needs only the costs of the next 18
// positions. Of two edges that reach a position at equal cost, the one
// from the later position is kept.
//
// The chosen edge into each position is kept only until the path through it
// is known: every edge is at most 18 bytes long, so the path to the end
// passes through one of any 18 consecutive final positions, and where the
// back chains of the newest 18 meet, the path up to that point is settled
// whatever comes later. With ties kept as above, the chains of a run of
// equal bytes all pass through the ends of its 18-byte pairs and meet
// within a token or two (kept the other way, they would run side by side,
// 18 bytes apart, through the whole run). On real data they meet within a
// few tokens, so the kept edges are few and stay in cache. Inputs whose
// chains stay apart for long make them grow, to at most one entry a
// position.

// Eight 16-bit lanes, one SSE2 register on x86-64.
using Lanes = std::int16_t __attribute__((vector_size(16)));

// Lanes 1 to 8 of low and high taken together: a window moved on by one
// lane. Compilers build a general shuffle of two SSE2 registers lane by
// lane, so the two byte shifts it comes down to are spelled out.
inline Lanes shift_in(Lanes low, Lanes high)
{
#if defined(__SSE2__)
    const __m128i moved = _mm_or_si128(_mm_srli_si128(std::bit_cast<__m128i>(low), 2),
                                       _mm_slli_si128(std::bit_cast<__m128i>(high), 14));
    return std::bit_cast<Lanes>(moved);
#else
    return __builtin_shufflevector(low, high, 1, 2, 3, 4, 5, 6, 7, 8);
#endif
}

inline Lanes lane_min(Lanes a, Lanes b)
{
#if defined(__SSE2__)
    return std::bit_cast<Lanes>(_mm_min_epi16(std::bit_cast<__m128i>(a), std::bit_cast<__m128i>(b)));
#else
    const Lanes less = a < b;
    return (a & less) | (b & ~less);
#endif
}

// The window of a step at position i covers positions i to i + 23 in three
// registers: lane j of register k stands for i + 8k + j, which an edge of
// length 8k + j reaches from i.
//
// A lane holds the cost of the cheapest way found to its position, in bits
// more than the cost of i, times 32, plus the length of the edge it ends
// with. The cheaper way is then the smaller value, and of two ways of equal
// cost the one with the shorter last edge, that is the one from the later
// position. A position not reached yet holds a cost that any edge beats.
//
// The cost of a position is at most one bit below that of the one before it
// (a pair of 3 bytes may end one bit cheaper than a pair of 2 could), so a
// position reached from q < i costs at most (i - q) + 17 bits more than i,
// and the lanes stay far from overflowing.
constexpr std::size_t window_registers = 3;
constexpr int length_bits = 5;
constexpr std::int16_t length_mask = (1 << length_bits) - 1;
constexpr std::int16_t unreached = 512 << length_bits;
constexpr std::int16_t reached_below = 128 << length_bits;
constexpr std::int16_t no_edge = 0x7FFF;
static_assert(mio0::max_match == 18 && mio0::min_match == 3 && mio0::max_match < 8 * window_registers);
static_assert(mio0::max_match <= length_mask);
// Reached lanes stay below reached_below; an unreached one, counted from a
// cost up to 9 bits higher at each of the 22 steps before the literal
// reaches it, stays above.
static_assert(((mio0::max_match + mio0::pair_bits) << length_bits) < reached_below);
static_assert(unreached - ((22 * mio0::literal_bits) << length_bits) > reached_below);

// The edges out of i, by the length of the match found at i: the literal
// to i + 1, and a pair to every position the match reaches.
struct EdgeTable {
    alignas(16) std::int16_t edges[mio0::max_match + 1][window_registers][8];

    constexpr EdgeTable() : edges{}
    {
        for (unsigned match = 0; match <= mio0::max_match; ++match)
            for (unsigned k = 0; k < window_registers; ++k)
                for (unsigned lane = 0; lane < 8; ++lane) {
                    const unsigned length = 8 * k + lane;
                    std::int16_t value = no_edge;
                    if (length == 1)
                        value = static_cast<std::int16_t>(mio0::literal_bits << length_bits | 1);
                    else if (length >= mio0::min_match && length <= match)
                        value = static_cast<std::int16_t>(mio0::pair_bits << length_bits | length);
                    edges[match][k][lane] = value;
                }
    }
};
constexpr EdgeTable edge_table;

// The state of the shortest-path pass before position i is stepped, as
// above, its costs counted from some earlier base.
struct PathWindow {
    Lanes lanes[window_registers];

    // Position 0, or a guess at any other position: reached at no cost,
    // nothing after it reached yet.
    static PathWindow start()
    {
        PathWindow window;
        for (Lanes& lane : window.lanes)
            lane = Lanes{} + unreached;
        window.lanes[0][0] = 0;
        return window;
    }

    // Whether every later step chooses the same edges from this window as
    // from `other`: whether, counted from the cost of their first lane,
    // they hold the same costs and edges, or both positions are not reached
    // yet (such a lane loses to any edge, whatever it holds). The edge into
    // the first position is final already and taken from there.
    bool leads_as(const PathWindow& other) const
    {
        const Lanes base = Lanes{} + static_cast<std::int16_t>(lanes[0][0] & ~length_mask);
        const Lanes other_base = Lanes{} + static_cast<std::int16_t>(other.lanes[0][0] & ~length_mask);
        for (std::size_t k = 0; k < window_registers; ++k) {
            const Lanes here = lanes[k] - base;
            const Lanes there = other.lanes[k] - other_base;
            for (std::size_t lane = k == 0 ? 1 : 0; lane < 8; ++lane) {
                const bool reached = here[lane] < reached_below;
                if (reached != (there[lane] < reached_below) || (reached && here[lane] != there[lane]))
                    return false;
            }
        }
        return true;
    }
};

// Steps `count` positions from `window`, given the length of the longest
// match found at each: offers the edges out of each position, whose cost is
// final once every earlier one has been stepped. edges[j] receives the
// length of the edge chosen into the position j + 1 after the first one
// stepped. Without branches: whether an edge wins is as good as random.
void step_positions(PathWindow& window, std::size_t count, const std::uint8_t* match_lengths,
                    std::uint8_t* edges)
{
    // Named locals, not an array, so that compilers keep them in registers.
    Lanes lanes0 = window.lanes[0], lanes1 = window.lanes[1], lanes2 = window.lanes[2];
    const Lanes far = Lanes{} + unreached;
    for (std::size_t j = 0; j < count; ++j) {
        // Count costs from the cost of position i.
        const Lanes base = __builtin_shufflevector(lanes0, lanes0, 0, 0, 0, 0, 0, 0, 0, 0) & ~length_mask;
        Lanes offer[window_registers];
        std::memcpy(offer, edge_table.edges[match_lengths[j]], sizeof offer);
        lanes0 = lane_min(lanes0 - base, offer[0]);
        lanes1 = lane_min(lanes1 - base, offer[1]);
        lanes2 = lane_min(lanes2 - base, offer[2]);
        edges[j] = static_cast<std::uint8_t>(lanes0[1] & length_mask); // final now

        // Move the window on by one position.
        lanes0 = shift_in(lanes0, lanes1);
        lanes1 = shift_in(lanes1, lanes2);
        lanes2 = shift_in(lanes2, far);
    }
    window.lanes[0] = lanes0, window.lanes[1] = lanes1, window.lanes[2] = lanes2;
}

// Takes the final edges in position order and emits the tokens of the path
// as soon as they are certain.
class PathSettler {
public:
    PathSettler(std::span<const std::uint8_t> input, TokenStreams& out, std::size_t settle_span)
        : input_(input), out_(out), settle_span_(std::max(settle_span, min_settle_span))
    {
        make_room();
    }

    // Takes the edges into positions first + 1 to first + count, and the
    // distances of the matches found at first to first + count - 1.
    void take(std::size_t first, std::size_t count, const std::uint8_t* edges, const std::uint16_t* distances)
    {
        while (count != 0) {
            const std::size_t piece = std::min(count, base_ + settle_span_ - first);
            std::memcpy(lengths_.data() + (first + 1 - base_), edges, piece);
            std::memcpy(distances_.data() + (first - base_), distances, piece * sizeof distances[0]);
            first += piece;
            edges += piece;
            distances += piece;
            count -= piece;
            if (first - base_ >= settle_span_)
                settle(first);
        }
    }

    // Emits the rest of the path, once every position before n is taken.
    void finish(std::size_t n)
    {
        emit_path(n);
        out_.finish();
    }

private:
    // Positions up to `frontier` are final. Finds where the back chains of
    // the newest 18 meet and emits the path up to there.
    void settle(std::size_t frontier)
    {
        // Bit j of `chains` stands for position p - j, and is set while some
        // chain's next node is there. Taking p's edge moves its bit to the
        // start of that edge. Every chain passes through `base_`, where the
        // path is settled already, so the walk stops there at the latest.
        std::uint64_t chains = (std::uint64_t{1} << mio0::max_match) - 1;
        std::size_t p = frontier;
        while (std::popcount(chains) > 1) {
            if ((chains & 1) != 0)
                chains |= std::uint64_t{1} << lengths_[p - base_];
            chains >>= 1;
            --p;
        }
        const std::size_t meet = p - static_cast<std::size_t>(std::countr_zero(chains));
        const std::size_t dropped = meet - base_;
        emit_path(meet);
        const std::size_t kept = frontier + 1 - meet;
        std::memmove(lengths_.data(), lengths_.data() + dropped, kept);
        std::memmove(distances_.data(), distances_.data() + dropped, kept * sizeof distances_[0]);

        // When many positions stay kept, settle less often, so that the
        // walks above cost at most twice the positions taken between them.
        if (2 * kept > settle_span_) {
            settle_span_ = 2 * kept;
            make_room();
        }
    }

    // Emits the tokens of the path from `base_` to `end`, a position the
    // path is known to pass through.
    void emit_path(std::size_t end)
    {
        starts_.clear();
        for (std::size_t p = end; p > base_;) {
            p -= lengths_[p - base_];
            starts_.push_back(static_cast<std::uint32_t>(p - base_));
        }
        for (auto start = starts_.rbegin(); start != starts_.rend(); ++start) {
            const std::size_t next = start + 1 == starts_.rend() ? end - base_ : *(start + 1);
            const std::size_t length = next - *start;
            if (length == 1)
                out_.literal(input_[base_ + *start]);
            else
                out_.pair(mio0::pair_word(static_cast<unsigned>(length), distances_[*start]));
        }
        base_ = end;
    }

    // Positions up to base_ + settle_span_ are taken before settling.
    void make_room()
    {
        const std::size_t slots = settle_span_ + 2 * mio0::max_match;
        if (slots > lengths_.size()) {
            lengths_.resize(slots);
            distances_.resize(slots);
            starts_.reserve(slots);
        }
    }

    // The walk in settle() starts from 18 positions after `base_`.
    static constexpr std::size_t min_settle_span = mio0::max_match;

    std::span<const std::uint8_t> input_;
    TokenStreams& out_;
    std::vector<std::uint8_t> lengths_;    // [p - base_]: length of the edge into p, 1 for a literal
    std::vector<std::uint16_t> distances_; // [p - base_]: distance of the match found at p
    std::vector<std::uint32_t> starts_;    // token starts, newest first, while a path is emitted
    std::size_t base_ = 0;                 // the path up to here is emitted
    std::size_t settle_span_;              // positions taken after base_ before settling again
};

// Large inputs are parsed in a pipeline of chunks. Two threads each take
// every other chunk: they find its matches, first taking in the 4096
// positions before it, so that they find exactly what a single finder
// would, and they step the shortest-path pass through it from a guessed
// window, started a little before the chunk. This thread takes the chunks
// in order, knowing the true window at the start of each: where the guess
// leads as the true window does, the chunk's edges are the ones a single
// pass would choose; else the chunk is stepped again from the true window.
// Either way the edges, and the block, are the same as from one pass. The
// guess forgets where it started well within the 4096 positions on real
// data (no chunk of the 64 MiB benchmark corpus is stepped twice).
struct Chunk {
    std::vector<std::uint8_t> match_lengths;
    std::vector<std::uint16_t> distances;
    std::vector<std::uint8_t> edges;
    PathWindow guessed_start{};
    PathWindow guessed_end{};
    std::size_t ready = SIZE_MAX; // index of the chunk the slot holds
    std::size_t free_for = 0;     // index of the next chunk it may take
};

constexpr std::size_t finder_threads = 2;
constexpr std::size_t chunk_slots = 2 * finder_threads;

// Finds the matches at positions first to first + count - 1, the next run
// of `finder`, into the lengths and distances the path is stepped from.
void find_matches(MatchFinder& finder, std::size_t first, std::size_t count, std::uint8_t* lengths,
                  std::uint16_t* distances)
{
    for (std::size_t j = 0; j < count; ++j) {
        const Match match = finder.find(static_cast<std::uint32_t>(first + j));
        lengths[j] = static_cast<std::uint8_t>(match.length);
        distances[j] = static_cast<std::uint16_t>(match.distance);
    }
}

void find_chunk(std::span<const std::uint8_t> input, const ParseTuning& tuning, MatchFinder& finder,
                std::vector<std::uint8_t>& scratch, std::size_t chunk, Chunk& out)
{
    const std::size_t start = chunk * tuning.chunk_size;
    const std::size_t end = std::min(input.size(), start + tuning.chunk_size);
    const std::size_t warm = start - std::min<std::size_t>(start, mio0::max_distance);
    const std::size_t guess = start - std::min({start, tuning.guess_lead, std::size_t{mio0::max_distance}});
    finder.reset();
    for (std::size_t p = warm; p < start; ++p)
        scratch[p - warm] = static_cast<std::uint8_t>(finder.find(static_cast<std::uint32_t>(p)).length);
    find_matches(finder, start, end - start, out.match_lengths.data(), out.distances.data());
    PathWindow window = PathWindow::start();
    step_positions(window, start - guess, scratch.data() + (guess - warm), scratch.data() + mio0::max_distance);
    out.guessed_start = window;
    step_positions(window, end - start, out.match_lengths.data(), out.edges.data());
    out.guessed_end = window;
}

void parse_in_pipeline(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path)
{
    const std::size_t chunk_size = tuning.chunk_size;
    const std::size_t chunks = (input.size() + chunk_size - 1) / chunk_size;
    std::vector<MatchFinder> finders;
    std::vector<std::vector<std::uint8_t>> scratch(finder_threads);
    std::vector<Chunk> slots(chunk_slots);
    for (std::size_t t = 0; t < finder_threads; ++t) {
        finders.emplace_back(input);
        scratch[t].resize(2 * mio0::max_distance);
    }
    for (std::size_t k = 0; k < chunk_slots; ++k) {
        slots[k].match_lengths.resize(chunk_size);
        slots[k].distances.resize(chunk_size);
        slots[k].edges.resize(chunk_size);
        slots[k].free_for = k;
    }
    std::mutex mutex;
    std::condition_variable changed;
    bool stopping = false; // this thread gave up: the others must not wait for it

    const auto work = [&](std::size_t thread) {
        for (std::size_t chunk = thread; chunk < chunks; chunk += finder_threads) {
            Chunk& slot = slots[chunk % chunk_slots];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slot.free_for == chunk || stopping; });
                if (stopping)
                    return;
            }
            find_chunk(input, tuning, finders[thread], scratch[thread], chunk, slot);
            {
                const std::lock_guard lock(mutex);
                slot.ready = chunk;
            }
            changed.notify_all();
        }
    };
    std::vector<std::jthread> threads; // joined on the way out, also when this thread throws
    try {
        for (std::size_t t = 0; t < finder_threads; ++t)
            threads.emplace_back(work, t);

        PathWindow window = PathWindow::start();
        for (std::size_t chunk = 0; chunk < chunks; ++chunk) {
            Chunk& slot = slots[chunk % chunk_slots];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slot.ready == chunk; });
            }
            const std::size_t start = chunk * chunk_size;
            const std::size_t count = std::min(input.size(), start + chunk_size) - start;
            if (window.leads_as(slot.guessed_start))
                window = slot.guessed_end;
            else
                step_positions(window, count, slot.match_lengths.data(), slot.edges.data());
            path.take(start, count, slot.edges.data(), slot.distances.data());
            {
                const std::lock_guard lock(mutex);
                slot.free_for = chunk + chunk_slots;
            }
            changed.notify_all();
        }
    } catch (...) {
        {
            const std::lock_guard lock(mutex);
            stopping = true;
        }
        changed.notify_all();
        throw;
    }
}

void shortest_parse(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path)
{
    const std::size_t n = input.size();
    if (tuning.chunk_size != 0 && n / tuning.chunk_size >= 2) {
        parse_in_pipeline(input, tuning, path);
    } else {
        MatchFinder finder(input);
        PathWindow window = PathWindow::start();
        constexpr std::size_t piece = std::size_t{1} << 14;
        std::vector<std::uint8_t> lengths(std::min(n, piece));
        std::vector<std::uint16_t> distances(std::min(n, piece));
        std::vector<std::uint8_t> edges(std::min(n, piece));
        for (std::size_t start = 0; start < n; start += piece) {
            const std::size_t count = std::min(n - start, piece);
            find_matches(finder, start, count, lengths.data(), distances.data());
            step_positions(window, count, lengths.data(), edges.data());
            path.take(start, count, edges.data(), distances.data());
        }
    }
    path.finish(n);
}

} // namespace

EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block, const ParseTuning& tuning)
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
        PathSettler path(input, tokens, tuning.settle_span);
        shortest_parse(input, tuning, path);
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

    mio0::write_header(block.data(), {false, static_cast<std::uint32_t>(n), static_cast<std::uint32_t>(pairs_offset),
                                      static_cast<std::uint32_t>(literals_offset)});
    return EncodeStatus::Ok;
}
