#pragma once

#include <cstddef>
#include <cstdint>

// An owning heap buffer whose bytes are left uninitialised until written.
// Large whole-file buffers are read or computed into at once, so zero-filling
// them first would only cost a pass over memory. Allocation never throws:
// a failure is reported as false, and the buffer is left as it was.
class ByteBuffer {
public:
    ByteBuffer() = default;
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer();

    // Changes the size to `size` bytes, keeping the first min(old, new).
    [[nodiscard]] bool resize(std::size_t size);
    // Replaces the content with `size` zero bytes. Fresh pages from the
    // kernel are zero already, so a large buffer costs no pass to clear it.
    [[nodiscard]] bool assign_zeros(std::size_t size);
    void release();

    std::uint8_t* data() { return bytes_; }
    const std::uint8_t* data() const { return bytes_; }
    std::size_t size() const { return size_; }

private:
    std::uint8_t* bytes_ = nullptr;
    std::size_t size_ = 0;
};
