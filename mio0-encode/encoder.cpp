#include "encoder.hpp"

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>
#include <exception>
#include <limits>
#include <vector>

#include "match_finder.hpp"
#include "mio0_format.hpp"

namespace {

// The parse is a shortest path over positions 0..n: a literal leads from p
// to p + 1, a match of length m found at p leads to p + len for every len
// from 3 to m (a prefix of a match is a match at the same distance).
// Relaxing edges in position order needs the costs of the next 18
// positions only, kept in a ring; the chosen edge into each position is
// kept whole, as the pair word it would be written as.
constexpr std::size_t ring_size = 32;
static_assert(ring_size > mio0::max_match);
constexpr std::uint64_t unreached = std::numeric_limits<std::uint64_t>::max();

// Per position p of 0..n: the edge chosen into p. Held in ByteBuffers, which
// a large input gets backed by huge pages: these arrays are 3 bytes a
// position, and faulting them in 4 KiB pages costs more than filling them.
struct Parse {
    std::uint16_t* words = nullptr;  // [p]: pair word of the edge into p
    std::uint8_t* literal = nullptr; // [p]: 1 when the edge into p is a literal
    std::uint64_t tokens = 0;
    std::uint64_t pairs = 0;
    std::uint64_t literals = 0;
};

// One step of the shortest path: relaxes the edges out of position i,
// whose cost is final once every earlier position has been stepped.
class PathBuilder {
public:
    explicit PathBuilder(Parse& parse) : words_(parse.words), literal_(parse.literal)
    {
        std::fill(std::begin(cost_), std::end(cost_), unreached);
        cost_[0] = 0;
    }

    void step(std::size_t i, Match match)
    {
        const std::uint64_t here = cost_[i % ring_size];
        cost_[i % ring_size] = unreached; // the slot now stands for i + 32
        const std::uint64_t by_literal = here + mio0::literal_bits;
        if (by_literal < cost_[(i + 1) % ring_size]) {
            cost_[(i + 1) % ring_size] = by_literal;
            literal_[i + 1] = 1;
        }
        // The cost of i + 1 is final now. A match of length m at i goes on at
        // i + 1 for at least m - 1 bytes, so when i + 1 costs no more than i,
        // its pairs reach every position from i + 4 on at least as cheaply:
        // of the pairs from i only the one of length 3 can still win.
        const unsigned longest = here >= cost_[(i + 1) % ring_size]
                                     ? std::min(match.length, mio0::min_match)
                                     : match.length;
        const std::uint64_t by_pair = here + mio0::pair_bits;
        // Written without branches: whether a pair improves a position is
        // as good as random, and a mispredicted branch costs more than the
        // three selects.
        for (unsigned length = mio0::min_match; length <= longest; ++length) {
            std::uint64_t& target = cost_[(i + length) % ring_size];
            const bool better = by_pair < target;
            target = better ? by_pair : target;
            const std::uint16_t word = mio0::pair_word(length, match.distance);
            words_[i + length] = better ? word : words_[i + length];
            literal_[i + length] = better ? std::uint8_t{0} : literal_[i + length];
        }
    }

private:
    std::uint64_t cost_[ring_size];
    std::uint16_t* words_;
    std::uint8_t* literal_;
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

void shortest_parse(std::span<const std::uint8_t> input, Parse& parse)
{
    const std::size_t n = input.size();
    PathBuilder path(parse);
    if (n >= 2 * chunk_size && std::thread::hardware_concurrency() > 1) {
        parse_in_pipeline(input, path);
    } else {
        MatchFinder finder(input);
        for (std::size_t i = 0; i < n; ++i)
            path.step(i, finder.find(static_cast<std::uint32_t>(i)));
    }

    // Walk back from the end, moving each chosen edge to the position just
    // after its start: for a literal that is where it already is, and for a
    // pair it is inside the pair's span, which the walk never visits again.
    // The forward pass then finds the token starting at s at s + 1.
    for (std::size_t p = n; p > 0;) {
        ++parse.tokens;
        if (parse.literal[p] != 0) {
            ++parse.literals;
            --p;
            continue;
        }
        ++parse.pairs;
        const std::size_t start = p - mio0::pair_length(parse.words[p]);
        parse.words[start + 1] = parse.words[p];
        parse.literal[start + 1] = 0;
        p = start;
    }
}

} // namespace

EncodeStatus encode_block(std::span<const std::uint8_t> input, ByteBuffer& block)
{
    const std::size_t n = input.size();
    if (n > max_encode_input)
        return EncodeStatus::TooLarge;
    ByteBuffer edges;
    if (!edges.assign_zeros(3 * (n + 1)))
        return EncodeStatus::OutOfMemory;
    Parse parse;
    parse.words = reinterpret_cast<std::uint16_t*>(edges.data()); // malloc aligns for any type
    parse.literal = edges.data() + 2 * (n + 1);
    try {
        shortest_parse(input, parse);
    } catch (const std::exception&) {
        return EncodeStatus::OutOfMemory; // the match finder's tables
    }

    const std::uint64_t layout_bytes = (parse.tokens + 31) / 32 * 4;
    if (layout_bytes > mio0::max_layout_bytes)
        return EncodeStatus::TooLarge;
    const std::uint64_t pairs_offset = mio0::header_size + layout_bytes;
    const std::uint64_t literals_offset = pairs_offset + 2 * parse.pairs;
    if (literals_offset > 0xFFFFFFFFu)
        return EncodeStatus::TooLarge;
    if (!block.resize(static_cast<std::size_t>(literals_offset + parse.literals)))
        return EncodeStatus::OutOfMemory;

    std::uint8_t* const out = block.data();
    std::memcpy(out, mio0::magic.data(), mio0::magic.size());
    mio0::write_be32(out + 4, static_cast<std::uint32_t>(n));
    mio0::write_be32(out + 8, static_cast<std::uint32_t>(pairs_offset));
    mio0::write_be32(out + 12, static_cast<std::uint32_t>(literals_offset));
    std::uint8_t* const layout = out + mio0::header_size;
    std::memset(layout, 0, static_cast<std::size_t>(layout_bytes));
    std::uint8_t* pair_out = out + pairs_offset;
    std::uint8_t* literal_out = out + literals_offset;

    std::size_t token = 0;
    for (std::size_t s = 0; s < n; ++token) {
        if (parse.literal[s + 1] != 0) {
            layout[token >> 3] = static_cast<std::uint8_t>(layout[token >> 3] | (0x80u >> (token & 7)));
            *literal_out++ = input[s];
            ++s;
        } else {
            const std::uint16_t word = parse.words[s + 1];
            *pair_out++ = static_cast<std::uint8_t>(word >> 8);
            *pair_out++ = static_cast<std::uint8_t>(word);
            s += mio0::pair_length(word);
        }
    }
    return EncodeStatus::Ok;
}
