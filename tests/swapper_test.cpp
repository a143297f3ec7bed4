#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "byte_pairs.hpp"
#include "swapper.hpp"
#include "test_files.hpp"

namespace {

std::vector<std::uint8_t> noise(std::size_t length, std::uint32_t seed)
{
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) {
        seed = seed * 1664525 + 1013904223;
        bytes[i] = static_cast<std::uint8_t>(seed >> 24);
    }
    return bytes;
}

std::vector<std::uint8_t> swapped(std::vector<std::uint8_t> bytes)
{
    swap_byte_pairs(bytes.data(), bytes.size());
    return bytes;
}

// Runs both stages as run_swapper does, with an output file.
SwapStatus swap_file(const std::string& input, const std::string& output, bool swap)
{
    SwapJob job;
    job.input_path = input;
    job.swap_requested = swap;
    job.to_stdout = false;
    job.output_path = output;
    EXPECT_EQ(read_input_file(job), SwapStatus::Ok) << input;
    EXPECT_TRUE(job.streaming);
    return write_result(job);
}

constexpr std::size_t piece = std::size_t{256} << 10; // the stage's piece

} // namespace

// The output file is written in pieces: every length around a piece's end,
// odd ones included, must come out as one swap of the whole input.
TEST(SwapperStages, StreamsEveryLengthAroundAPieceBoundary)
{
    ScratchDir dir;
    const std::string in = dir.file("in");
    const std::string out = dir.file("out");
    for (const std::size_t length : {std::size_t{0}, std::size_t{1}, std::size_t{2}, piece - 1, piece, piece + 1,
                                     2 * piece + 3}) {
        const std::vector<std::uint8_t> bytes = noise(length, static_cast<std::uint32_t>(length));
        write_file(in, bytes);
        ASSERT_EQ(swap_file(in, out, true), SwapStatus::Ok) << length;
        EXPECT_EQ(read_file(out), swapped(bytes)) << length;
        ASSERT_EQ(swap_file(in, out, false), SwapStatus::Ok) << length;
        EXPECT_EQ(read_file(out), bytes) << length;
    }
}

TEST(SwapperStages, ConvertsInPlaceUnderTheSameNameASymbolicLinkAndAHardLink)
{
    ScratchDir dir;
    const std::string file = dir.file("file");
    const std::string symbolic = dir.file("symbolic");
    const std::string hard = dir.file("hard");
    const std::vector<std::uint8_t> bytes = noise(piece + 5, 7);
    write_file(file, bytes);
    std::error_code linked;
    std::filesystem::create_symlink("file", symbolic, linked);
    if (linked)
        GTEST_SKIP() << "no symbolic links here: " << linked.message();

    ASSERT_EQ(swap_file(file, file, true), SwapStatus::Ok);
    EXPECT_EQ(read_file(file), swapped(bytes));
    ASSERT_EQ(swap_file(symbolic, symbolic, true), SwapStatus::Ok);
    EXPECT_EQ(read_file(file), bytes);
    EXPECT_TRUE(std::filesystem::is_symlink(symbolic));

    // The named file is replaced by a new one; the other name keeps the
    // old bytes.
    std::filesystem::create_hard_link(file, hard);
    ASSERT_EQ(swap_file(file, hard, true), SwapStatus::Ok);
    EXPECT_EQ(read_file(hard), swapped(bytes));
    EXPECT_EQ(read_file(file), bytes);
}

TEST(SwapperStages, FailuresLeaveTheOutputAsItWas)
{
    ScratchDir dir;
    const std::string in = dir.file("in");
    const std::string out = dir.file("out");
    write_file(in, noise(1000, 3));
    const std::vector<std::uint8_t> old = noise(10, 9);
    write_file(out, old);

    SwapJob missing;
    missing.input_path = dir.file("missing");
    missing.to_stdout = false;
    missing.output_path = out;
    EXPECT_EQ(read_input_file(missing), SwapStatus::InputOpenFailed);
    EXPECT_EQ(swap_file(in, dir.file("no/such/dir/out"), true), SwapStatus::OutputOpenFailed);
#if !defined(_WIN32)
    // Reading a process's own memory file at position 0 fails with EIO.
    EXPECT_EQ(swap_file("/proc/self/mem", out, true), SwapStatus::InputReadFailed);
    EXPECT_EQ(swap_file("/proc/self/mem", dir.file("new"), true), SwapStatus::InputReadFailed);
    EXPECT_FALSE(std::filesystem::exists(dir.file("new")));
    EXPECT_EQ(swap_file(in, "/dev/full", true), SwapStatus::OutputWriteFailed);
#endif
    EXPECT_EQ(read_file(out), old);
    // Nothing else is left in the directory: no temporary file.
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.file(".")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (std::vector<std::string>{"in", "out"}));
}

// To standard output the whole input is read first, so that a read error
// writes nothing there.
TEST(SwapperStages, StandardOutputHoldsTheWholeInput)
{
    ScratchDir dir;
    const std::string in = dir.file("in");
    const std::vector<std::uint8_t> bytes = noise(piece + 1, 11);
    write_file(in, bytes);
    SwapJob job;
    job.input_path = in;
    ASSERT_EQ(read_input_file(job), SwapStatus::Ok);
    EXPECT_FALSE(job.streaming);
    EXPECT_EQ(std::vector<std::uint8_t>(job.data.data(), job.data.data() + job.data.size()), bytes);
}
