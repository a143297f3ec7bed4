// mio0-encode: compresses a whole file into one MIO0 block.

#include <cstdio>

#include "encoder.hpp"
#include "file_io.hpp"
#include "platform.hpp"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int fail(const char* message)
{
    std::fputs(message, stdout);
    return exit_failure;
}

int run_encoder(int argc, char** argv)
{
    if (argc != 3) {
        std::printf("\nSyntax:\n%s InFile OutFile\n\n", argc > 0 ? argv[0] : "");
        std::fputs("    InFile     The name of the file to compress\n", stdout);
        std::fputs("    OutFile    The file that receives the MIO0 block\n", stdout);
        return exit_usage;
    }
    prepare_process();

    // Read, not mapped: a mapped input that shrinks under the encoder would
    // end it with a bus error.
    ByteBuffer input;
    switch (read_file(argv[1], input, max_encode_input)) {
    case InputStatus::Ok:
        break;
    case InputStatus::OpenFailed:
        return fail("\nCould not open input file\n");
    case InputStatus::OutOfMemory:
        return fail("\nCould not allocate memory\n");
    case InputStatus::ReadFailed:
        return fail("\nCould not read input file\n");
    case InputStatus::TooLarge:
        return fail("\nInput is too large for MIO0\n");
    }

    ByteBuffer block;
    switch (encode_block({input.data(), input.size()}, block)) {
    case EncodeStatus::Ok:
        break;
    case EncodeStatus::OutOfMemory:
        return fail("\nCould not allocate memory\n");
    case EncodeStatus::TooLarge:
        return fail("\nInput is too large for MIO0\n");
    }

    OutputFile output;
    if (!output.open(argv[2]) || !output.write(block.data(), block.size()) || !output.finish())
        return fail("\nCould not write the file\n");
    return 0;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_encoder); }
