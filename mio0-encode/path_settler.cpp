#include "path_settler.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

PathSettler::PathSettler(std::span<const std::uint8_t> input, TokenStreams& out, std::size_t settle_span)
    : input_(input), out_(out), settle_span_(std::clamp(settle_span, min_settle_span, max_settle_span))
{
    make_room();
}

void PathSettler::take(std::size_t first, std::size_t count, const std::uint8_t* edges,
                       const std::uint16_t* distances)
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

void PathSettler::finish(std::size_t n) { emit_path(n); }

// Positions up to `frontier` are final. Finds where the back chains of the
// newest 18 meet and emits the path up to there.
void PathSettler::settle(std::size_t frontier)
{
    // Bit j of `chains` stands for position p - j, and is set while some
    // chain's next node is there. Taking p's edge moves its bit to the start
    // of that edge. Every chain passes through `base_`, where the path is
    // settled already, so the walk stops there at the latest.
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

    // When many positions stay kept, settle less often, so that the walks
    // above cost at most twice the positions taken between them.
    if (2 * kept > settle_span_) {
        settle_span_ = 2 * kept;
        make_room();
    }
}

// Emits the tokens of the path from `base_` to `end`, a position the path
// is known to pass through.
void PathSettler::emit_path(std::size_t end)
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
void PathSettler::make_room()
{
    const std::size_t slots = settle_span_ + 2 * mio0::max_match;
    if (slots > lengths_.size()) {
        lengths_.resize(slots);
        distances_.resize(slots);
        starts_.reserve(slots);
    }
}
