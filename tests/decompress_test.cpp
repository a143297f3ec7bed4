#include <gtest/gtest.h>

#include <filesystem>

#include "block_writer.hpp"
#include "decompress.hpp"
#include "test_files.hpp"

namespace {

struct Decoded {
    DecodeStatus status;
    std::vector<std::uint8_t> produced;
};

Decoded decode(const TestBlock& block)
{
    DecoderState state;
    const DecodeStatus loaded = load_block_from_memory(block.bytes(), 0, state);
    if (loaded != DecodeStatus::Ok)
        return {loaded, {}};
    const DecodeResult result = decode_block(state);
    EXPECT_EQ(result.produced, state.produced);
    EXPECT_LE(result.produced, state.decompressed_size);
    return {result.status, {state.output.data(), state.output.data() + result.produced}};
}

TEST(DecodeBlock, CopiesLiteralsAndOverlappingBackReferences)
{
    struct Case {
        const char* name;
        TestBlock block;
        std::vector<std::uint8_t> expected;
    };
    const Case cases[] = {
        {"pair after two literals", make_block("110", bytes_of("AB"), {{3, 2}}, 5), bytes_of("ABABA")},
        {"distance 1 repeats the last byte", make_block("10", {0x78}, {{18, 1}}, 19),
         std::vector<std::uint8_t>(19, 0x78)},
        {"copy stops at D", make_block("110", bytes_of("AB"), {{3, 2}}, 4), bytes_of("ABAB")},
        {"decoding ends at D before later flags", make_block("1011", bytes_of("xyz"), {{18, 1}}, 3),
         bytes_of("xxx")},
        {"D = 0 produces nothing", make_block("11", bytes_of("ab"), {}, 0), {}},
        {"a 0 flag with no pair left ends decoding", make_block("101", bytes_of("ab"), {}, 5),
         bytes_of("a")},
        {"flags run out before D", make_block("11", bytes_of("ab"), {}, 6), bytes_of("ab")},
        {"distance equal to the bytes produced", make_block("1110", bytes_of("abc"), {{3, 3}}, 6),
         bytes_of("abcabc")},
        {"longest distance", [] {
             TestBlock b;
             b.decompressed_size = 4096 + 18;
             b.layout.assign(512, 0xFF);
             b.layout.push_back(0x00);
             b.literals.resize(4096);
             for (std::size_t i = 0; i < 4096; ++i)
                 b.literals[i] = static_cast<std::uint8_t>(i * 7);
             b.pairs.push_back(mio0::pair_word(18, 4096));
             return b;
         }(),
         [] {
             std::vector<std::uint8_t> out(4096 + 18);
             for (std::size_t i = 0; i < out.size(); ++i)
                 out[i] = static_cast<std::uint8_t>((i % 4096) * 7);
             return out;
         }()},
    };
    for (const Case& c : cases) {
        const Decoded d = decode(c.block);
        EXPECT_EQ(d.status, DecodeStatus::Ok) << c.name;
        EXPECT_EQ(d.produced, c.expected) << c.name;
    }
}

TEST(DecodeBlock, RefusesBackReferencesBeforeTheFirstByte)
{
    const TestBlock cases[] = {
        make_block("0", {}, {{3, 1}}, 3),
        make_block("10", bytes_of("a"), {{3, 2}}, 4),
        make_block("1110", bytes_of("abc"), {{3, 4}}, 6),
        make_block("1100", bytes_of("ab"), {{3, 1}, {5, 4096}}, 20),
    };
    for (const TestBlock& block : cases)
        EXPECT_EQ(decode(block).status, DecodeStatus::NotMio0);

    // A bad pair that decoding never reaches does not matter.
    EXPECT_EQ(decode(make_block("10", bytes_of("a"), {{3, 9}}, 1)).status, DecodeStatus::Ok);
}

TEST(WriteOutput, WritesExactlyDBytesZeroFilledAndReplacesAnExistingFile)
{
    ScratchDir dir;
    const std::string path = dir.file("out");
    write_file(path, std::vector<std::uint8_t>(3000000, 0x55));

    const std::uint32_t size = (1u << 20) + 5;
    DecoderState state;
    ASSERT_EQ(load_block_from_memory(make_block("10", bytes_of("z"), {{3, 1}}, size).bytes(), 0, state),
              DecodeStatus::Ok);
    ASSERT_EQ(decode_block(state).produced, 4u);
    ASSERT_EQ(write_output(state, path.c_str()), DecodeStatus::Ok);

    std::vector<std::uint8_t> expected(size, 0);
    std::fill_n(expected.begin(), 4, 'z');
    EXPECT_EQ(read_file(path), expected);
    EXPECT_EQ(state.output.size(), 0u); // buffers released
}

TEST(WriteOutput, FailuresReportOpenFailedAndLeaveNoFile)
{
    const auto write_to = [](const char* destination) {
        DecoderState state;
        ASSERT_EQ(load_block_from_memory(make_block("1", bytes_of("z"), {}, 1).bytes(), 0, state),
                  DecodeStatus::Ok);
        decode_block(state);
        EXPECT_EQ(write_output(state, destination), DecodeStatus::OpenFailed) << destination;
    };
    ScratchDir dir;
    const std::string missing_dir = dir.file("no/such/dir");
    write_to(missing_dir.c_str());
    EXPECT_FALSE(std::filesystem::exists(missing_dir));

    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full here, a device whose every write fails";
    write_to("/dev/full");
    EXPECT_TRUE(std::filesystem::exists("/dev/full"));
}

} // namespace
