// mio0-decode: decodes the MIO0 block at a decimal offset of a file, or
// lists every block of a file.

#include <cstdio>
#include <cstring>

#include "block_decoder.hpp"
#include "block_scan.hpp"
#include "command_line.hpp"
#include "platform.hpp"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

// The one table from causes to the fixed messages.
const char* message_for(DecodeStatus status)
{
    switch (status) {
    case DecodeStatus::InputUnopenable:
    case DecodeStatus::InputReadFailed:
        return "\nCould not open file\n";
    case DecodeStatus::SizesWrap:
    case DecodeStatus::OutOfMemory:
        return "\nCould not allocate memory\n";
    case DecodeStatus::HeaderCutShort:
    case DecodeStatus::BadMagic:
    case DecodeStatus::Truncated:
    case DecodeStatus::ReferenceBeforeStart:
    case DecodeStatus::NoBlocks:
        return "\nData is not MIO0\n";
    case DecodeStatus::WriteFailed:
        return "\nCould not write the file\n";
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
    if (const DecodeStatus status = list_blocks(path, destination); status != DecodeStatus::Ok)
        return fail(message_for(status));
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

    if (const DecodeStatus status = decode_file(argv[1], parse_offset(argv[2]), argv[3]); status != DecodeStatus::Ok)
        return fail(message_for(status));
    return 0;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_decoder); }
