// mio0-decode: decodes the MIO0 block at a decimal offset of a file, or
// lists every block of a file.

#include <cstdio>
#include <cstring>

#include "block_reader.hpp"
#include "block_scan.hpp"
#include "command_line.hpp"
#include "decompress.hpp"
#include "file_io.hpp"
#include "platform.hpp"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

const char* message_for(DecodeStatus status)
{
    switch (status) {
    case DecodeStatus::OpenFailed:
        return "\nCould not open file\n";
    case DecodeStatus::OutOfMemory:
        return "\nCould not allocate memory\n";
    case DecodeStatus::NotMio0:
        return "\nData is not MIO0\n";
    case DecodeStatus::Ok:
        break;
    }
    return "";
}

int fail(const char* message)
{
    std::fputs(message, stdout);
    return exit_failure;
}

int run_listing(const char* path, const char* destination)
{
    std::vector<FoundBlock> blocks;
    if (const DecodeStatus status = list_blocks(path, blocks); status != DecodeStatus::Ok)
        return fail(message_for(status));
    if (blocks.empty())
        return fail(message_for(DecodeStatus::NotMio0));
    const std::string listing = format_listing(blocks);
    OutputFile output;
    if (!output.open(destination) ||
        !output.write(reinterpret_cast<const std::uint8_t*>(listing.data()), listing.size()) ||
        !output.finish())
        return fail("\nCould not write the file\n");
    return 0;
}

int run_decoder(int argc, char** argv)
{
    if (argc != 4) {
        std::printf("\nSyntax:\n%s filename [offset | list] destination\n\n", argc > 0 ? argv[0] : "");
        std::fputs("    filename      The name of the file to decode MIO0 data from\n", stdout);
        std::fputs("    offset        The offset within the file to decode MIO0 data\n", stdout);
        std::fputs("    destination   The destination file for decoding\n", stdout);
        return exit_usage;
    }
    prepare_process();
    if (std::strcmp(argv[2], "list") == 0)
        return run_listing(argv[1], argv[3]);

    DecoderState state;
    if (const DecodeStatus status = load_block(argv[1], parse_offset(argv[2]), state);
        status != DecodeStatus::Ok)
        return fail(message_for(status));
    if (const DecodeResult result = decode_block(state); result.status != DecodeStatus::Ok)
        return fail(message_for(result.status));
    if (write_output(state, argv[3]) != DecodeStatus::Ok)
        return fail("\nCould not write the file\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_decoder); }
