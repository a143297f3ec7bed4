#include <gtest/gtest.h>

#include <ostream>
#include <random>

#include "block_builder.hpp"
#include "encoder_inputs.hpp"
#include "match_finder.hpp"
#include "mio0_format.hpp"
#include "path_settler.hpp"
#include "path_step.hpp"

namespace {

// A parse graph: the edge chosen into every position 1..n and the distance
// of the match at every position 0..n-1, over the bytes of `input`.
struct Graph {
    Bytes input;
    Bytes edges;                          // [p - 1]: length of the edge into p
    std::vector<std::uint16_t> distances; // [p]: distance of the match at p
};

// The tokens a parse wrote, stream by stream.
struct Tokens {
    Bytes layout, pairs, literals;
    bool operator==(const Tokens&) const = default;
};

void PrintTo(const Tokens& tokens, std::ostream* out)
{
    *out << tokens.pairs.size() / 2 << " pairs, " << tokens.literals.size() << " literals, layout";
    for (const std::uint8_t byte : tokens.layout)
        *out << ' ' << std::hex << int{byte} << std::dec;
}

// Room for the streams of a parse of n bytes, and the streams cut to what
// was written.
class Streams {
public:
    explicit Streams(std::size_t n) : layout_((n + 31) / 32 * 4), pairs_(2 * n), literals_(n) {}
    TokenStreams& out() { return out_; }
    Tokens written()
    {
        out_.finish();
        return {Bytes(layout_.begin(), layout_.begin() + static_cast<long>((out_.tokens() + 31) / 32 * 4)),
                Bytes(pairs_.begin(), pairs_.begin() + static_cast<long>(2 * out_.pairs())),
                Bytes(literals_.begin(), literals_.begin() + static_cast<long>(out_.literals()))};
    }

private:
    Bytes layout_, pairs_, literals_;
    TokenStreams out_{layout_.data(), pairs_.data(), literals_.data()};
};

// The path walked back from the end over the whole graph, then written.
Tokens full_backtrack(const Graph& graph)
{
    std::vector<std::size_t> starts;
    for (std::size_t p = graph.input.size(); p > 0;) {
        p -= graph.edges[p - 1];
        starts.push_back(p);
    }
    Streams streams(graph.input.size());
    std::size_t end = graph.input.size();
    std::vector<std::pair<std::size_t, std::size_t>> tokens; // start, length
    for (const std::size_t start : starts) {
        tokens.emplace_back(start, end - start);
        end = start;
    }
    for (auto token = tokens.rbegin(); token != tokens.rend(); ++token) {
        if (token->second == 1)
            streams.out().literal(graph.input[token->first]);
        else
            streams.out().pair(mio0::pair_word(static_cast<unsigned>(token->second), graph.distances[token->first]));
    }
    return streams.written();
}

// The settler fed in pieces of random sizes, as the parse feeds it.
Tokens settled(const Graph& graph, std::size_t span, unsigned seed)
{
    std::mt19937 random(seed);
    Streams streams(graph.input.size());
    PathSettler settler(graph.input, streams.out(), span);
    for (std::size_t at = 0; at < graph.input.size();) {
        const std::size_t count = std::min<std::size_t>(graph.input.size() - at, 1 + random() % 100);
        settler.take(at, count, graph.edges.data() + at, graph.distances.data() + at);
        at += count;
    }
    settler.finish(graph.input.size());
    return streams.written();
}

// The shortest path of `input`, as the parse computes it.
Graph parse_graph(const Bytes& input)
{
    Graph graph{input, Bytes(input.size()), std::vector<std::uint16_t>(input.size())};
    MatchFinder finder(input);
    Bytes lengths(input.size());
    for (std::size_t i = 0; i < input.size(); ++i) {
        const Match match = finder.insert_and_find(static_cast<std::uint32_t>(i));
        lengths[i] = static_cast<std::uint8_t>(match.length);
        graph.distances[i] = static_cast<std::uint16_t>(match.distance);
    }
    PathWindow window = PathWindow::start();
    step_positions(window, input.size(), lengths.data(), graph.edges.data());
    return graph;
}

// Edges drawn at random, lengths 1 and 3 to 18 with long edges common:
// back chains that cross and run apart in every way a shortest path never
// shows, which the settler must handle all the same.
Graph random_graph(std::size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Graph graph{random_bytes(n, 256, seed), Bytes(n), std::vector<std::uint16_t>(n)};
    for (std::size_t p = 1; p <= n; ++p) {
        const unsigned pick = random() % 4;
        unsigned length = pick == 0 ? 1 : pick == 1 ? mio0::max_match : 3 + random() % 16;
        if (length > p)
            length = 1;
        graph.edges[p - 1] = static_cast<std::uint8_t>(length);
        graph.distances[p - 1] = static_cast<std::uint16_t>(1 + random() % mio0::max_distance);
    }
    return graph;
}

// However often the settler tries to settle, it emits the tokens of the
// path walked back from the end.
TEST(PathSettler, EmitsThePathOfAFullBacktrackAtEverySpan)
{
    std::vector<Graph> graphs = {
        parse_graph({}),
        parse_graph({'a'}),
        parse_graph(Bytes(17, 'a')),
        parse_graph(Bytes(1000, 'a')),
        parse_graph(random_bytes(3000, 2, 1)),
        parse_graph(random_bytes(3000, 3, 2)),
        parse_graph(runs(3000, 2, 60)),
        parse_graph(runs(3000, 19, 40)),
        // Runs a little shorter than the longest pair: the path often leaves
        // the oldest of the newest 18 positions by a pair of 18, the case
        // that needs all 18 chains.
        parse_graph(runs(3000, 15, 5)),
        parse_graph(runs(3000, 100, 1000)),
        parse_graph(mixed_repeats(3000, 3)),
    };
    for (unsigned seed = 0; seed < 8; ++seed)
        graphs.push_back(random_graph(1500 + 37 * seed, seed));
    unsigned seed = 0;
    for (std::size_t g = 0; g < graphs.size(); ++g) {
        const Tokens expected = full_backtrack(graphs[g]);
        for (std::size_t span = 18; span <= 60; ++span)
            ASSERT_EQ(settled(graphs[g], span, ++seed), expected) << "graph " << g << ", span " << span;
    }
}

// A span asked for beyond reason is clamped: the kept edges are sized for
// at most a million positions, never for the span, and the path is the same.
TEST(PathSettler, BoundsTheRoomItMakes)
{
    const Graph graph = parse_graph(mixed_repeats(5000, 4));
    const Tokens expected = full_backtrack(graph);
    for (const std::size_t span : {std::size_t{0}, std::size_t{1} << 30, SIZE_MAX - 10, SIZE_MAX}) {
        Streams streams(graph.input.size());
        PathSettler settler(graph.input, streams.out(), span);
        EXPECT_LE(settler.capacity(), PathSettler::max_settle_span + 2 * mio0::max_match) << "span " << span;
        settler.take(0, graph.input.size(), graph.edges.data(), graph.distances.data());
        settler.finish(graph.input.size());
        EXPECT_EQ(streams.written(), expected) << "span " << span;
    }
}

} // namespace
