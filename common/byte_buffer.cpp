#include "byte_buffer.hpp"

#include <cstdlib>
#include <utility>

#include "platform.hpp"

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

ByteBuffer::~ByteBuffer() { release(); }

bool ByteBuffer::resize(std::size_t size)
{
    if (size == size_)
        return true;
    if (size == 0) {
        release();
        return true;
    }
    void* grown = std::realloc(bytes_, size);
    if (grown == nullptr)
        return false;
    bytes_ = static_cast<std::uint8_t*>(grown);
    size_ = size;
    advise_large_buffer(bytes_, size_);
    return true;
}

bool ByteBuffer::assign_zeros(std::size_t size)
{
    void* zeros = std::calloc(size == 0 ? 1 : size, 1);
    if (zeros == nullptr)
        return false;
    release();
    bytes_ = static_cast<std::uint8_t*>(zeros);
    size_ = size;
    advise_large_buffer(bytes_, size_);
    return true;
}

void ByteBuffer::release()
{
    std::free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
}
