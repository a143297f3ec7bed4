#pragma once

// Reading a block's bytes from where it is stored: memory or a regular file,
// either storage, in pieces.

#include <cstddef>
#include <cstdint>
#include <span>

#include "byte_buffer.hpp"
#include "platform.hpp"

namespace mio0 {

// Count of 1 bits in `length` bytes.
std::uint64_t count_ones(const std::uint8_t* bytes, std::size_t length);

// The stored bytes of one block and of what follows it in the input, at
// positions counted from the block's first byte.
class BlockInput {
public:
    explicit BlockInput(std::uint64_t available) : available_(available) {}
    BlockInput(const BlockInput&) = delete;
    BlockInput& operator=(const BlockInput&) = delete;
    virtual ~BlockInput() = default;

    // Bytes of the input from the block's first byte to the input's end.
    std::uint64_t available() const { return available_; }

    // Copies stored bytes [at, at + length), all below available(). False
    // after an I/O error, or when the input turns out shorter (it changed).
    virtual bool read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length) = 0;

    // Count of 1 bits in stored bytes [from, to), to <= available().
    virtual bool count_ones_stored(std::uint64_t from, std::uint64_t to, std::uint64_t& ones);

    // Block bytes [at, at + length) in the order the block has them, read
    // from the given storage (stored_position). Requires at + length <=
    // available(). False as read_stored, or when memory runs out.
    bool read(std::uint64_t at, std::uint8_t* bytes, std::size_t length, bool swapped);

    // Count of 1 bits in block bytes [from, to), `from` even.
    bool count_ones(std::uint64_t from, std::uint64_t to, bool swapped, std::uint64_t& ones);

protected:
    std::uint64_t available_;

private:
    ByteBuffer scratch_; // stored bytes of a pair-swapped read
};

// A block held in memory: `bytes` runs from the block's first byte to the
// end of the input.
class MemoryInput final : public BlockInput {
public:
    explicit MemoryInput(std::span<const std::uint8_t> bytes) : BlockInput(bytes.size()), bytes_(bytes) {}
    bool read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length) override;

private:
    std::span<const std::uint8_t> bytes_;
};

// A block at `offset` of a regular file of `size` bytes, read with
// positional reads; the file's position is left alone.
class FileInput final : public BlockInput {
public:
    FileInput(InputFile& file, std::uint64_t offset, std::uint64_t size)
        : BlockInput(offset < size ? size - offset : 0), file_(file), offset_(offset)
    {
    }
    bool read_stored(std::uint64_t at, std::uint8_t* bytes, std::size_t length) override;

private:
    InputFile& file_;
    std::uint64_t offset_;
};

// Block bytes [start, start + length) served in pieces: `cur` to `end` are
// the bytes at hand. The buffer has `slack` readable bytes past `end`, so
// that a copy may move whole vectors past the bytes it needs.
class PieceStream {
public:
    static constexpr std::size_t slack = 64;

    PieceStream() = default;
    PieceStream(const PieceStream&) = delete;
    PieceStream& operator=(const PieceStream&) = delete;

    // Starts over on another range; nothing is read until the first fill.
    // False when the buffer of `piece` bytes cannot be had.
    [[nodiscard]] bool reset(BlockInput& input, bool swapped, std::uint64_t start, std::uint64_t length,
                             std::size_t piece);

    // Makes at least `want` (at most slack) bytes available at `cur`, or all
    // that are left of the range; returns how many are at hand.
    std::size_t fill(std::size_t want)
    {
        const auto have = static_cast<std::size_t>(end - cur);
        return have >= want ? have : refill(want);
    }
    bool failed() const { return failed_; }

    const std::uint8_t* cur = nullptr;
    const std::uint8_t* end = nullptr;

private:
    std::size_t refill(std::size_t want);

    BlockInput* input_ = nullptr;
    bool swapped_ = false;
    bool failed_ = false;
    std::uint64_t next_ = 0;      // block position of the next byte to read
    std::uint64_t remaining_ = 0; // bytes of the range not yet read
    std::size_t piece_ = 0;
    ByteBuffer buffer_;
};

} // namespace mio0
