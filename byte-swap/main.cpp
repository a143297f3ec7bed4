// byte-swap: copies a whole file with every byte pair exchanged ("-v") or
// unchanged, to a file or to standard output.

#include <cstring>

#include "byte_pairs.hpp"
#include "platform.hpp"
#include "program.hpp"
#include "swapper.hpp"

namespace {

constexpr ProgramText program_text{
    "byte-swap",
    "InFile <-v | -z> [OutFile]",
    "    InFile     The name of the input file\n"
    "    -v -z      Flag to induce byte-swapping or not.\n"
    "    OutFile    Optional. The name of the output file.\n\n"
    "If OutFile is not supplied, stdout will be used.\n",
};

constexpr FixedMessage<SwapStatus> messages[] = {
    {SwapStatus::InputOpenFailed, "\nCould not open input file\n"},
    {SwapStatus::OutOfMemory, "\nCould not allocate input file buffer\n"},
    {SwapStatus::InputReadFailed, "\nCould not read input file\n"},
    {SwapStatus::OutputOpenFailed, "\nCould not open output file\n"},
    {SwapStatus::OutputWriteFailed, "\nCould not write output file\n"},
};

int run_swapper(int argc, char** argv)
{
    if (const auto answered = answer_help_or_version(program_text, argc, argv))
        return *answered;
    // The flag is required: the input alone gets the usage text too.
    if (argc < 3 || argc > 4) {
        print_usage(program_text, argc, argv);
        return exit_usage;
    }
    prepare_process();

    SwapJob job;
    job.input_path = argv[1];
    job.swap_requested = std::strcmp(argv[2], "-v") == 0;
    job.to_stdout = argc == 3;
    if (!job.to_stdout)
        job.output_path = argv[3];

    if (const SwapStatus status = read_input_file(job); status != SwapStatus::Ok)
        return fail(message_for(messages, status));
    if (job.swap_requested && !job.streaming) // a streaming job swaps as it writes
        swap_byte_pairs(job.data.data(), job.data.size());

    if (const SwapStatus status = write_result(job); status != SwapStatus::Ok) {
        // When the data went to standard output, that is the stream that
        // failed: the message goes where it can still be seen.
        const bool lost_stdout = job.to_stdout && status == SwapStatus::OutputWriteFailed;
        return fail(message_for(messages, status), lost_stdout ? stderr : stdout);
    }
    return exit_success;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_swapper); }
