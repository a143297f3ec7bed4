#include "parse_pipeline.hpp"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "match_finder.hpp"
#include "mio0_format.hpp"
#include "path_step.hpp"

namespace {

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

// What a finder thread works in before its chunk: the match lengths of the
// 4096 positions it takes in first, and a sink for the edges stepped from
// the guess up to the chunk, which only the window they leave matters for.
struct LeadIn {
    std::uint8_t match_lengths[mio0::max_distance];
    std::uint8_t discarded_edges[mio0::max_distance];
};

// Finds the matches at positions first to first + count - 1, the next run
// of `finder`, into the lengths and distances the path is stepped from.
void find_matches(MatchFinder& finder, std::size_t first, std::size_t count, std::uint8_t* lengths,
                  std::uint16_t* distances)
{
    for (std::size_t j = 0; j < count; ++j) {
        const Match match = finder.insert_and_find(static_cast<std::uint32_t>(first + j));
        lengths[j] = static_cast<std::uint8_t>(match.length);
        distances[j] = static_cast<std::uint16_t>(match.distance);
    }
}

void find_chunk(std::span<const std::uint8_t> input, const ParseTuning& tuning, MatchFinder& finder,
                LeadIn& lead_in, std::size_t chunk, Chunk& out)
{
    const std::size_t start = chunk * tuning.chunk_size;
    const std::size_t end = std::min(input.size(), start + tuning.chunk_size);
    const std::size_t warm = start - std::min<std::size_t>(start, mio0::max_distance);
    const std::size_t guess = start - std::min({start, tuning.guess_lead, std::size_t{mio0::max_distance}});
    finder.reset();
    for (std::size_t p = warm; p < start; ++p)
        lead_in.match_lengths[p - warm] =
            static_cast<std::uint8_t>(finder.insert_and_find(static_cast<std::uint32_t>(p)).length);
    find_matches(finder, start, end - start, out.match_lengths.data(), out.distances.data());
    PathWindow window = PathWindow::start();
    step_positions(window, start - guess, lead_in.match_lengths + (guess - warm), lead_in.discarded_edges);
    out.guessed_start = window;
    step_positions(window, end - start, out.match_lengths.data(), out.edges.data());
    out.guessed_end = window;
}

ParseReport parse_in_pipeline(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path)
{
    const std::size_t chunk_size = tuning.chunk_size;
    const std::size_t chunks = (input.size() + chunk_size - 1) / chunk_size;
    ParseReport report{chunks, 0};
    std::vector<MatchFinder> finders;
    std::vector<LeadIn> lead_ins(finder_threads);
    std::vector<Chunk> slots(chunk_slots);
    for (std::size_t t = 0; t < finder_threads; ++t)
        finders.emplace_back(input);
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
            find_chunk(input, tuning, finders[thread], lead_ins[thread], chunk, slot);
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
            if (window.leads_as(slot.guessed_start)) {
                window = slot.guessed_end;
            } else {
                step_positions(window, count, slot.match_lengths.data(), slot.edges.data());
                ++report.restepped;
            }
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
    return report;
}

void parse_in_one_pass(std::span<const std::uint8_t> input, PathSettler& path)
{
    const std::size_t n = input.size();
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

} // namespace

ParseReport parse_shortest_path(std::span<const std::uint8_t> input, const ParseTuning& tuning, PathSettler& path)
{
    ParseTuning clamped = tuning;
    if (clamped.chunk_size != 0)
        clamped.chunk_size = std::clamp(clamped.chunk_size, min_chunk_size, max_chunk_size);
    ParseReport report;
    if (clamped.chunk_size != 0 && input.size() / clamped.chunk_size >= 2)
        report = parse_in_pipeline(input, clamped, path);
    else
        parse_in_one_pass(input, path);
    path.finish(input.size());
    return report;
}
