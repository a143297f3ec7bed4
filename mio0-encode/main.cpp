// mio0-encode: compresses a whole file into one MIO0 block.

#include <variant>

#include "encoder.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "program.hpp"

namespace {

constexpr ProgramText program_text{
    "mio0-encode",
    "InFile OutFile",
    "    InFile     The name of the file to compress\n"
    "    OutFile    The file that receives the MIO0 block\n",
};

// The destination's one failure: a write or its close.
enum class WriteStatus : std::uint8_t { Ok, Failed };

// The status of whichever stage failed: the read, the encoding or the write.
using StageStatus = std::variant<InputStatus, EncodeStatus, WriteStatus>;

constexpr FixedMessage<StageStatus> messages[] = {
    {InputStatus::OpenFailed, "\nCould not open input file\n"},
    {InputStatus::OutOfMemory, "\nCould not allocate memory\n"},
    {InputStatus::ReadFailed, "\nCould not read input file\n"},
    {InputStatus::TooLarge, "\nInput is too large for MIO0\n"},
    {EncodeStatus::OutOfMemory, "\nCould not allocate memory\n"},
    {EncodeStatus::TooLarge, "\nInput is too large for MIO0\n"},
    {WriteStatus::Failed, "\nCould not write the file\n"},
};

WriteStatus write_block(const char* path, const ByteBuffer& block)
{
    OutputFile output;
    if (!output.open(path) || !output.write(block.data(), block.size()) || !output.finish())
        return WriteStatus::Failed;
    return WriteStatus::Ok;
}

int run_encoder(int argc, char** argv)
{
    if (const auto answered = answer_help_or_version(program_text, argc, argv))
        return *answered;
    if (argc != 3) {
        print_usage(program_text, argc, argv);
        return exit_usage;
    }
    prepare_process();

    // Read, not mapped: a mapped input that shrinks under the encoder would
    // end it with a bus error.
    ByteBuffer input;
    if (const InputStatus status = read_file(argv[1], input, max_encode_input); status != InputStatus::Ok)
        return fail(message_for(messages, StageStatus{status}));

    ByteBuffer block;
    if (const EncodeStatus status = encode_block({input.data(), input.size()}, block);
        status != EncodeStatus::Ok)
        return fail(message_for(messages, StageStatus{status}));

    if (const WriteStatus status = write_block(argv[2], block); status != WriteStatus::Ok)
        return fail(message_for(messages, StageStatus{status}));
    return exit_success;
}

} // namespace

int main(int argc, char** argv) { return run_with_arguments(argc, argv, run_encoder); }
