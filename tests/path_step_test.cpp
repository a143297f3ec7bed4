#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "encoder_inputs.hpp"
#include "match_finder.hpp"
#include "mio0_format.hpp"
#include "path_step.hpp"

namespace {

// The edge into every position 1..n of the shortest path over the given
// match lengths, by plain relaxation in position order. Of equal costs the
// edge from the later position wins, as in the vector pass.
Bytes scalar_edges(const Bytes& match_lengths)
{
    const std::size_t n = match_lengths.size();
    std::vector<std::uint64_t> cost(n + mio0::max_match + 1, UINT64_MAX);
    Bytes edge(cost.size(), 0);
    cost[0] = 0;
    const auto offer = [&](std::size_t from, std::size_t length, unsigned bits) {
        if (cost[from] + bits <= cost[from + length]) {
            cost[from + length] = cost[from] + bits;
            edge[from + length] = static_cast<std::uint8_t>(length);
        }
    };
    for (std::size_t i = 0; i < n; ++i) {
        offer(i, 1, mio0::literal_bits);
        for (std::size_t length = mio0::min_match; length <= match_lengths[i]; ++length)
            offer(i, length, mio0::pair_bits);
    }
    return {edge.begin() + 1, edge.begin() + static_cast<long>(n) + 1};
}

// Steps the whole of `match_lengths` from the start, in pieces of random
// sizes so that the window is carried across calls.
Bytes stepped_edges(const Bytes& match_lengths, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes edges(match_lengths.size());
    PathWindow window = PathWindow::start();
    for (std::size_t at = 0; at < match_lengths.size();) {
        const std::size_t count = std::min<std::size_t>(match_lengths.size() - at, random() % 300);
        step_positions(window, count, match_lengths.data() + at, edges.data() + at);
        at += count;
    }
    return edges;
}

Bytes finder_lengths(const Bytes& input)
{
    MatchFinder finder(input);
    Bytes lengths(input.size());
    for (std::size_t i = 0; i < input.size(); ++i)
        lengths[i] = static_cast<std::uint8_t>(finder.insert_and_find(static_cast<std::uint32_t>(i)).length);
    return lengths;
}

// Match lengths of every kind the finder gives, and some it never does
// (matches past the end, lengths in any order): the pass must be right for
// every sequence of lengths 0 and 3 to 18.
std::vector<Bytes> length_sequences()
{
    std::vector<Bytes> sequences = {
        {},
        {0},
        {18},
        Bytes(5000, 18),
        Bytes(5000, 3),
        finder_lengths(random_bytes(20000, 2, 1)),
        finder_lengths(runs(30000, 5, 400)),
        finder_lengths(text_like(30000, 2)),
        finder_lengths(mixed_repeats(30000, 3)),
    };
    for (unsigned seed = 0; seed < 20; ++seed) {
        std::mt19937 random(seed);
        Bytes lengths(2000 + seed * 97);
        const unsigned zero_share = seed % 5; // from no zeros to mostly zeros
        for (auto& length : lengths)
            length = random() % 5 < zero_share ? 0 : static_cast<std::uint8_t>(3 + random() % 16);
        sequences.push_back(lengths);
    }
    return sequences;
}

TEST(StepPositions, ChoosesTheEdgesOfAPlainShortestPath)
{
    unsigned seed = 0;
    for (const Bytes& lengths : length_sequences()) {
        const Bytes expected = scalar_edges(lengths);
        const Bytes edges = stepped_edges(lengths, ++seed);
        for (std::size_t p = 0; p < lengths.size(); ++p)
            ASSERT_EQ(edges[p], expected[p]) << "sequence " << seed << ", edge into " << p + 1;
    }
}

// A window is taken for another only where leads_as says so; the edges
// stepped from both must then agree to the end, whatever came before each.
// And on ordinary data, a guess started far enough back comes to lead as
// the true window does.
TEST(PathWindow, LeadsAsOnlyWhereTheEdgesAgree)
{
    for (const Bytes& lengths : {finder_lengths(text_like(20000, 4)), finder_lengths(mixed_repeats(20000, 5)),
                                 finder_lengths(runs(20000, 30, 2000)), finder_lengths(random_bytes(20000, 3, 6))}) {
        const Bytes truth = scalar_edges(lengths);
        std::size_t agreed = 0;
        for (std::size_t guess = 500; guess < lengths.size(); guess += 1500) {
            PathWindow window = PathWindow::start();
            Bytes sink(guess);
            step_positions(window, guess, lengths.data(), sink.data());
            PathWindow guessed = PathWindow::start();
            for (std::size_t at = guess; at + 64 < lengths.size(); at += 64) {
                if (window.leads_as(guessed)) {
                    ++agreed;
                    Bytes edges(lengths.size() - at);
                    step_positions(guessed, edges.size(), lengths.data() + at, edges.data());
                    ASSERT_TRUE(std::equal(edges.begin(), edges.end(), truth.begin() + static_cast<long>(at)))
                        << "guess from " << guess << " taken at " << at;
                    break;
                }
                Bytes ignored(64);
                step_positions(window, 64, lengths.data() + at, ignored.data());
                step_positions(guessed, 64, lengths.data() + at, ignored.data());
            }
        }
        EXPECT_GT(agreed, 0u);
    }
}

} // namespace

namespace {

// Random match lengths: 0 or 3 to 18, with 18 common, so that every lane of
// the window is often reached.
Bytes random_lengths(std::mt19937& random, std::size_t n)
{
    Bytes lengths(n);
    for (auto& length : lengths) {
        const unsigned pick = random() % 4;
        length = pick == 0 ? 0 : pick == 1 ? mio0::max_match : static_cast<std::uint8_t>(3 + random() % 16);
    }
    return lengths;
}

// Two windows that leads_as takes for each other must choose the same edges
// from then on, whatever the lengths that follow. Here the windows come from
// histories that differ only before a common tail of every length from 0 to
// 24, so that they differ in few lanes, anywhere up to the last that a pair
// reaches.
TEST(PathWindow, WindowsThatLeadAlikeChooseAlikeOnEveryContinuation)
{
    std::mt19937 random(7);
    std::size_t alike = 0;
    for (unsigned trial = 0; trial < 20000; ++trial) {
        const std::size_t tail = trial % 25;
        const Bytes common = random_lengths(random, tail);
        PathWindow one = PathWindow::start();
        PathWindow other = PathWindow::start();
        for (PathWindow* window : {&one, &other}) {
            Bytes history = random_lengths(random, 1 + random() % 40);
            history.insert(history.end(), common.begin(), common.end());
            Bytes sink(history.size());
            step_positions(*window, history.size(), history.data(), sink.data());
        }
        if (!one.leads_as(other))
            continue;
        ++alike;
        for (unsigned continuation = 0; continuation < 4; ++continuation) {
            const Bytes next = random_lengths(random, 40);
            PathWindow a = one, b = other;
            Bytes edges_a(next.size()), edges_b(next.size());
            step_positions(a, next.size(), next.data(), edges_a.data());
            step_positions(b, next.size(), next.data(), edges_b.data());
            ASSERT_EQ(edges_a, edges_b) << "trial " << trial << ", common tail " << tail;
        }
    }
    EXPECT_GT(alike, 100u);
}

} // namespace
