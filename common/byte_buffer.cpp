#include "byte_buffer.hpp"

#include <cstdlib>
#include <utility>

#include <sys/mman.h>

namespace {

// Buffers this large are backed by transparent huge pages where the kernel
// offers them on request: a 64 MiB file then costs 32 page faults, not 16384.
constexpr std::size_t huge_page = std::size_t{2} << 20;

void advise_huge_pages(std::uint8_t* bytes, std::size_t size)
{
    if (size < 2 * huge_page)
        return;
    const auto start = reinterpret_cast<std::uintptr_t>(bytes);
    const std::uintptr_t first = (start + huge_page - 1) & ~(huge_page - 1);
    const std::uintptr_t last = (start + size) & ~(huge_page - 1);
    if (last > first)
        (void)madvise(reinterpret_cast<void*>(first), last - first, MADV_HUGEPAGE);
}

} // namespace

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
    advise_huge_pages(bytes_, size_);
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
    advise_huge_pages(bytes_, size_);
    return true;
}

void ByteBuffer::release()
{
    std::free(bytes_);
    bytes_ = nullptr;
    size_ = 0;
}
