#pragma once

// Inputs the encoder's tests share: noise over small alphabets, runs, text
// and repeats at every distance, each reproducible from its seed.

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

using Bytes = std::vector<std::uint8_t>;

// Letters from 'a' on, `alphabet` of them, uniformly.
inline Bytes random_bytes(std::size_t n, unsigned alphabet, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes out(n);
    for (auto& b : out)
        b = static_cast<std::uint8_t>('a' + random() % alphabet);
    return out;
}

// Runs of one of three bytes, of lengths from `shortest` up to about
// `shortest + spread`: the candidate paths through a run lie 18 bytes apart
// until they meet.
inline Bytes runs(std::size_t n, std::size_t shortest, std::size_t spread)
{
    Bytes out;
    for (std::size_t k = 0; out.size() < n; ++k)
        out.insert(out.end(), shortest + k * 7919 % spread, static_cast<std::uint8_t>(k % 3));
    out.resize(n);
    return out;
}

// Words from a small vocabulary, like text: matches of every length and
// distance.
inline Bytes text_like(std::size_t n, unsigned seed)
{
    static const char* const words[] = {"block ", "pair ", "literal ", "offset ", "the ", "of ",
                                        "layout ", "bits ", "swap ", "size ", "data\n", "zero "};
    std::mt19937 random(seed);
    Bytes out;
    while (out.size() < n) {
        const std::string word = words[random() % std::size(words)];
        out.insert(out.end(), word.begin(), word.end());
    }
    out.resize(n);
    return out;
}

// Repeats at every distance up to and past the window, mixed with noise and
// runs: matches of every length cross every chunk boundary.
inline Bytes mixed_repeats(std::size_t size, unsigned seed)
{
    Bytes input;
    std::mt19937 random(seed);
    while (input.size() < size) {
        const std::size_t back = 1 + random() % 5000;
        const std::size_t length = 1 + random() % 40;
        if (input.size() > back && random() % 3 != 0) {
            for (std::size_t k = 0; k < length; ++k)
                input.push_back(input[input.size() - back]);
        } else if (random() % 5 == 0) {
            input.insert(input.end(), length * 10, static_cast<std::uint8_t>(random()));
        } else {
            for (std::size_t k = 0; k < length; ++k)
                input.push_back(static_cast<std::uint8_t>(random() % 4));
        }
    }
    return input;
}
