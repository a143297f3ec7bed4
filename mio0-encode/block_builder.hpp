#pragma once

// Writing the tokens of a parse into a block: the three streams a block
// holds, and their assembly behind the header once the parse is complete.

#include <cstddef>
#include <cstdint>

#include "byte_buffer.hpp"
#include "encoder.hpp"
#include "mio0_format.hpp"

// Where the tokens of the parse go, in order: one flag per token in the
// layout region, pair words and literal bytes each in their own stream.
// The caller gives each stream room for the most it can get.
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

// Builds one block in normal storage from the tokens of a parse of
// `input_size` bytes. The block is first laid out with room for the most
// flags and pairs that many bytes can give, the literals apart; finish()
// moves the pairs and literals next to the layout once its size is known.
// Pages of that room that are never written cost no memory.
class BlockBuilder {
public:
    BlockBuilder(ByteBuffer& block, std::size_t input_size) : block_(block), input_size_(input_size) {}

    // Makes the room; tokens() may be used only after it returned Ok.
    EncodeStatus start();
    TokenStreams& tokens() { return tokens_; }

    // Writes the header and closes up the streams, once every token is in.
    EncodeStatus finish();

private:
    ByteBuffer& block_;
    ByteBuffer literals_;
    std::size_t input_size_;
    TokenStreams tokens_{nullptr, nullptr, nullptr};
};
