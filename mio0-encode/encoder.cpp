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
using Lanes = std::uint16_t __attribute__((vector_size(16)));
using LaneMask = std::int16_t __attribute__((vector_size(16)));

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

inline Lanes select(LaneMask take, Lanes taken, Lanes kept)
{
    const auto mask = std::bit_cast<Lanes>(take);
    return (taken & mask) | (kept & ~mask);
}

// The window of a step at position i covers positions i to i + 23 in three
// registers: lane j of register k stands for i + 8k + j, reached from i by
// an edge of length 8k + j.
constexpr std::size_t window_registers = 3;
constexpr Lanes edge_lengths[window_registers] = {
    {0, 1, 2, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14, 15}, {16, 17, 18, 19, 20, 21, 22, 23}};
// A lane may take an edge when its gate is at most the match length: the
// literal lane always, a pair lane when the match reaches it, the others
// never.
constexpr std::int16_t closed = 0x7FFF;
constexpr LaneMask edge_gates[window_registers] = {
    {closed, 0, closed, 3, 4, 5, 6, 7}, {8, 9, 10, 11, 12, 13, 14, 15},
    {16, 17, 18, closed, closed, closed, closed, closed}};
constexpr Lanes edge_costs[window_registers] = {
    {0, mio0::literal_bits, 0, mio0::pair_bits, mio0::pair_bits, mio0::pair_bits, mio0::pair_bits,
     mio0::pair_bits},
    Lanes{} + mio0::pair_bits, Lanes{} + mio0::pair_bits};
static_assert(mio0::max_match == 18 && mio0::min_match == 3 && mio0::max_match < 8 * window_registers);

// Costs are held modulo 2^16 and compared by their difference: the costs in
// one window are within 24 x 17 bits of each other. A position not reached
// yet costs far more than any edge into it will.
constexpr std::uint16_t unreached = 0x4000;

// The state of the shortest-path pass before position i is stepped: the
// cost of i and of the 23 positions after it, and the length of the edge
// each of those is reached by so far. Lane j of register k stands for
// i + 8k + j.
struct PathWindow {
    Lanes cost[window_registers];
    Lanes edge[window_registers];

    // Position 0, or a guess at any other position: reached at no cost,
    // nothing after it reached yet.
    static PathWindow start()
    {
        PathWindow window{};
        for (Lanes& cost : window.cost)
            cost = Lanes{} + unreached;
        window.cost[0][0] = 0;
        return window;
    }

    // Whether every later step chooses the same edges from this window as
    // from `other`. Steps compare costs only with each other, so they are
    // compared relative to the first lane; a position not reached yet
    // loses to any edge, whatever its cost, and whatever edge it holds. The
    // edge into the first position is final already and taken from there.
    bool leads_as(const PathWindow& other) const
    {
        constexpr auto reached = [](Lanes lanes, Lanes base) {
            return std::bit_cast<LaneMask>(lanes - base) < LaneMask{} + unreached / 2;
        };
        const Lanes base = Lanes{} + cost[0][0];
        const Lanes other_base = Lanes{} + other.cost[0][0];
        for (std::size_t k = 0; k < window_registers; ++k) {
            const LaneMask here = reached(cost[k], base);
            const LaneMask there = reached(other.cost[k], other_base);
            const LaneMask same = (cost[k] - base == other.cost[k] - other_base) & (edge[k] == other.edge[k]);
            for (std::size_t lane = k == 0 ? 1 : 0; lane < 8; ++lane)
                if (here[lane] != there[lane] || (here[lane] != 0 && same[lane] == 0))
                    return false;
        }
        return true;
    }
};

// Offers the edges of window register k to its positions.
inline void relax(Lanes here, LaneMask reach, std::size_t k, Lanes& cost, Lanes& edge)
{
    const Lanes by_edge = here + edge_costs[k];
    // by_edge <= cost, as a difference that a single compare tests
    const LaneMask better = (edge_gates[k] <= reach) & (std::bit_cast<LaneMask>(cost - by_edge) > -1);
    cost = select(better, by_edge, cost);
    edge = select(better, edge_lengths[k], edge);
}

// Steps `count` positions from `window`, given the length of the longest
// match found at each: relaxes the edges out of each position, whose cost
// is final once every earlier one has been stepped. edges[j] receives the
// length of the edge chosen into the position j + 1 after the first one
// stepped. Written without branches: whether an edge improves a position
// is as good as random.
void step_positions(PathWindow& window, std::size_t count, const std::uint8_t* match_lengths,
                    std::uint8_t* edges)
{
    // Named locals, not arrays, so that compilers keep them in registers.
    Lanes cost0 = window.cost[0], cost1 = window.cost[1], cost2 = window.cost[2];
    Lanes edge0 = window.edge[0], edge1 = window.edge[1], edge2 = window.edge[2];
    for (std::size_t j = 0; j < count; ++j) {
        const Lanes here = __builtin_shufflevector(cost0, cost0, 0, 0, 0, 0, 0, 0, 0, 0);
        const LaneMask reach = LaneMask{} + static_cast<std::int16_t>(match_lengths[j]);
        relax(here, reach, 0, cost0, edge0);
        relax(here, reach, 1, cost1, edge1);
        relax(here, reach, 2, cost2, edge2);
        edges[j] = static_cast<std::uint8_t>(edge0[1]); // final now

        // Move the window on by one position.
        cost0 = shift_in(cost0, cost1);
        cost1 = shift_in(cost1, cost2);
        cost2 = shift_in(cost2, here + unreached);
        edge0 = shift_in(edge0, edge1);
        edge1 = shift_in(edge1, edge2);
        edge2 = shift_in(edge2, edge2);
    }
    window.cost[0] = cost0, window.cost[1] = cost1, window.cost[2] = cost2;
    window.edge[0] = edge0, window.edge[1] = edge1, window.edge[2] = edge2;
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
// guess has forgotten where it started well within the 4096 positions on
// every input seen, so chunks are rarely stepped twice.
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
    for (std::size_t p = start; p < end; ++p) {
        const Match match = finder.find(static_cast<std::uint32_t>(p));
        out.match_lengths[p - start] = static_cast<std::uint8_t>(match.length);
        out.distances[p - start] = static_cast<std::uint16_t>(match.distance);
    }
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

    const auto work = [&](std::size_t thread) {
        for (std::size_t chunk = thread; chunk < chunks; chunk += finder_threads) {
            Chunk& slot = slots[chunk % chunk_slots];
            {
                std::unique_lock lock(mutex);
                changed.wait(lock, [&] { return slot.free_for == chunk; });
            }
            find_chunk(input, tuning, finders[thread], scratch[thread], chunk, slot);
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
}

void shortest_parse(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path)
{
    const std::size_t n = input.size();
    if (n >= 2 * tuning.chunk_size) {
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
            for (std::size_t j = 0; j < count; ++j) {
                const Match match = finder.find(static_cast<std::uint32_t>(start + j));
                lengths[j] = static_cast<std::uint8_t>(match.length);
                distances[j] = static_cast<std::uint16_t>(match.distance);
            }
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

    std::uint8_t* const out = block.data();
    std::memcpy(out, mio0::magic.data(), mio0::magic.size());
    mio0::write_be32(out + 4, static_cast<std::uint32_t>(n));
    mio0::write_be32(out + 8, static_cast<std::uint32_t>(pairs_offset));
    mio0::write_be32(out + 12, static_cast<std::uint32_t>(literals_offset));
    return EncodeStatus::Ok;
}
