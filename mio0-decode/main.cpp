// mio0-decode: decodes the MIO0 block at an offset of a file, or lists
// every block of a file.

#include <cstring>

#include "block_decoder.hpp"
#include "block_scan.hpp"
#include "command_line.hpp"
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

// The stages name the cause of a failure; several causes share a message.
constexpr FixedMessage<DecodeStatus> messages[] = {
    {DecodeStatus::InputUnopenable, "\nCould not open file\n"},
    {DecodeStatus::InputReadFailed, "\nCould not open file\n"},
    {DecodeStatus::SizesWrap, "\nCould not allocate memory\n"},
    {DecodeStatus::OutOfMemory, "\nCould not allocate memory\n"},
    {DecodeStatus::HeaderCutShort, "\nData is not MIO0\n"},
    {DecodeStatus::BadMagic, "\nData is not MIO0\n"},
    {DecodeStatus::Truncated, "\nData is not MIO0\n"},
    {DecodeStatus::ReferenceBeforeStart, "\nData is not MIO0\n"},
    {DecodeStatus::NoBlocks, "\nData is not MIO0\n"},
    {DecodeStatus::WriteFailed, "\nCould not write the file\n"},
};

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
    const DecodeStatus status =
        listing ? list_blocks(argv[1], argv[3]) : decode_file(argv[1], *offset, argv[3]);
    if (status != DecodeStatus::Ok)
        return fail(message_for(messages, status));
    return exit_success;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_decoder); }
