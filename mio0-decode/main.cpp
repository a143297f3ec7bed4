// mio0-decode: decodes the MIO0 block at an offset of a file, or lists
// every block of a file.

#include <cstring>

#include "block_reader.hpp"
#include "block_scan.hpp"
#include "command_line.hpp"
#include "decompress.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "program.hpp"

namespace {

constexpr ProgramText program_text{
    "mio0-decode",
    "filename [offset | list] destination",
    "    filename      The name of the file to decode MIO0 data from\n"
    "    offset        The offset within the file to decode MIO0 data\n"
    "    destination   The destination file for decoding\n",
};

// The stages share one status type, and the same value means a different
// failure in reading and in writing: the table is keyed by both.
enum class Stage : std::uint8_t { Read, Decode, Write };

struct StageStatus {
    Stage stage;
    DecodeStatus status;
    bool operator==(const StageStatus&) const = default;
};

constexpr FixedMessage<StageStatus> messages[] = {
    {{Stage::Read, DecodeStatus::OpenFailed}, "\nCould not open file\n"},
    {{Stage::Read, DecodeStatus::OutOfMemory}, "\nCould not allocate memory\n"},
    {{Stage::Read, DecodeStatus::NotMio0}, "\nData is not MIO0\n"},
    {{Stage::Decode, DecodeStatus::NotMio0}, "\nData is not MIO0\n"},
    {{Stage::Write, DecodeStatus::OpenFailed}, "\nCould not write the file\n"},
};

int fail_in(Stage stage, DecodeStatus status) { return fail(message_for(messages, {stage, status})); }

int run_listing(const char* path, const char* destination)
{
    std::vector<FoundBlock> blocks;
    if (const DecodeStatus status = list_blocks(path, blocks); status != DecodeStatus::Ok)
        return fail_in(Stage::Read, status);
    if (blocks.empty())
        return fail_in(Stage::Read, DecodeStatus::NotMio0);
    const std::string listing = format_listing(blocks);
    OutputFile output;
    if (!output.open(destination) ||
        !output.write(reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()) ||
        !output.finish())
        return fail_in(Stage::Write, DecodeStatus::OpenFailed);
    return exit_success;
}

int run_decoder(int argc, char** argv)
{
    if (const auto answered = answer_help_or_version(program_text, argc, argv))
        return *answered;
    if (argc != 4) {
        print_usage(program_text, argc, argv);
        return exit_usage;
    }
    const bool listing = std::strcmp(argv[2], "list") == 0;
    // Refused before any file is opened, so no destination is touched.
    const std::optional<std::uint32_t> offset = parse_offset(argv[2]);
    if (!listing && !offset)
        return refuse("\nInvalid offset\n");
    prepare_process();
    if (listing)
        return run_listing(argv[1], argv[3]);

    DecoderState state;
    if (const DecodeStatus status = load_block(argv[1], *offset, state); status != DecodeStatus::Ok)
        return fail_in(Stage::Read, status);
    if (const DecodeResult result = decode_block(state); result.status != DecodeStatus::Ok)
        return fail_in(Stage::Decode, result.status);
    if (const DecodeStatus status = write_output(state, argv[3]); status != DecodeStatus::Ok)
        return fail_in(Stage::Write, status);
    return exit_success;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_decoder); }
