#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "file_io.hpp"
#include "test_files.hpp"

#if !defined(_WIN32)
#include <unistd.h>

namespace {

std::vector<std::uint8_t> pattern(std::size_t length)
{
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i)
        bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

// A pipe that a thread fills with `bytes` and then closes. The read end is
// opened by its /dev/fd name, as a program would open a pipe it was given.
class FedPipe {
public:
    explicit FedPipe(const std::vector<std::uint8_t>& bytes)
    {
        int ends[2];
        EXPECT_EQ(::pipe(ends), 0);
        read_end_ = ends[0];
        writer_ = std::thread([bytes, fd = ends[1]] {
            std::size_t done = 0;
            while (done < bytes.size()) {
                const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
                if (put <= 0)
                    break;
                done += static_cast<std::size_t>(put);
            }
            ::close(fd);
        });
    }
    ~FedPipe()
    {
        writer_.join();
        ::close(read_end_);
    }
    FedPipe(const FedPipe&) = delete;
    FedPipe& operator=(const FedPipe&) = delete;

    std::string name() const { return "/dev/fd/" + std::to_string(read_end_); }

private:
    int read_end_ = -1;
    std::thread writer_;
};

// What is left to read: the bytes read_to_end did not take.
std::uint64_t drain(InputFile& input)
{
    std::vector<std::uint8_t> piece(1 << 16);
    std::uint64_t left = 0;
    for (std::int64_t got; (got = input.read(piece.data(), piece.size())) > 0;)
        left += static_cast<std::uint64_t>(got);
    return left;
}

} // namespace

// An input that never ends must not be read until memory runs out: past
// the cap, reading stops after exactly one byte more than the cap.
TEST(ReadToEnd, APipeLongerThanTheCapIsTooLargeJustPastTheCap)
{
    struct Case {
        std::uint64_t cap;
        std::size_t fed;
        InputStatus status;
    };
    const Case cases[] = {
        {0, 0, InputStatus::Ok},
        {0, 1, InputStatus::TooLarge},
        {1000, 1000, InputStatus::Ok},
        {1000, 1001, InputStatus::TooLarge},
        {1000, 5000, InputStatus::TooLarge},
        // Past the first 64 KiB piece, so that the buffer grows on the way.
        {100000, 100000, InputStatus::Ok},
        {100000, std::size_t{1} << 20, InputStatus::TooLarge},
    };
    for (const Case& c : cases) {
        const std::vector<std::uint8_t> bytes = pattern(c.fed);
        FedPipe pipe(bytes);
        InputFile input;
        ASSERT_TRUE(input.open(pipe.name().c_str()));
        ASSERT_LT(input.regular_size(), 0) << "not a pipe";
        ByteBuffer data;
        EXPECT_EQ(read_to_end(input, data, c.cap), c.status) << "cap " << c.cap << ", fed " << c.fed;
        const std::uint64_t read = c.fed - drain(input);
        if (c.status == InputStatus::Ok) {
            EXPECT_EQ(read, c.fed);
            EXPECT_EQ(std::vector<std::uint8_t>(data.data(), data.data() + data.size()), bytes);
        } else {
            EXPECT_EQ(read, c.cap + 1) << "cap " << c.cap << ", fed " << c.fed;
        }
    }
}

TEST(ReadToEnd, ARegularFileIsHeldToTheSameCap)
{
    ScratchDir dir;
    const std::string path = dir.file("in");
    const std::vector<std::uint8_t> bytes = pattern(5000);
    write_file(path, bytes);
    ByteBuffer data;
    EXPECT_EQ(read_file(path.c_str(), data, 4999), InputStatus::TooLarge);
    ASSERT_EQ(read_file(path.c_str(), data, 5000), InputStatus::Ok);
    EXPECT_EQ(std::vector<std::uint8_t>(data.data(), data.data() + data.size()), bytes);
    EXPECT_EQ(read_file(dir.file("missing").c_str(), data, 5000), InputStatus::OpenFailed);
}

#endif
