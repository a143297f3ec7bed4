// byte-swap: copies a whole file with every byte pair exchanged ("-v") or
// unchanged, to a file or to standard output.

#include <cstdio>
#include <cstring>

#include "byte_pairs.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "swapper.hpp"

namespace {

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int fail(const char* message, std::FILE* stream = stdout)
{
    std::fputs(message, stream);
    return exit_failure;
}

int run_swapper(int argc, char** argv)
{
    // The flag is required: the input alone gets the usage text too.
    if (argc < 3 || argc > 4) {
        std::printf("\nSyntax:\n%s InFile <-v | -z> [OutFile]\n\n", argc > 0 ? argv[0] : "");
        std::fputs("    InFile     The name of the input file\n", stdout);
        std::fputs("    -v -z      Flag to induce byte-swapping or not.\n", stdout);
        std::fputs("    OutFile    Optional. The name of the output file.\n\n", stdout);
        std::fputs("If OutFile is not supplied, stdout will be used.\n", stdout);
        return exit_usage;
    }
    prepare_process();

    SwapJob job;
    job.input_path = argv[1];
    job.swap_requested = std::strcmp(argv[2], "-v") == 0;
    job.to_stdout = argc == 3;
    if (!job.to_stdout)
        job.output_path = argv[3];

    switch (read_input_file(job)) {
    case read_ok:
        break;
    case read_open_failed:
        return fail("\nCould not open input file\n");
    case read_no_memory:
        return fail("\nCould not allocate input file buffer\n");
    default:
        return fail("\nCould not read input file\n");
    }
    if (job.swap_requested) // a streaming job swaps as it writes
        swap_byte_pairs(job.data.data(), job.data.size());

    switch (write_result(job)) {
    case write_ok:
        return 0;
    case write_open_failed:
        return fail("\nCould not open output file\n");
    case write_read_failed:
        return fail("\nCould not read input file\n");
    default:
        // When the data went to standard output, that is the stream that
        // failed: the message goes where it can still be seen.
        return fail("\nCould not write output file\n", job.to_stdout ? stderr : stdout);
    }
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_swapper); }
