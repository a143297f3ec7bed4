// mio0-encode: compresses a whole file into one MIO0 block, or puts the
// block of a file back in place of a block of an image.

#include <cstdio>
#include <optional>
#include <variant>

#include "command_line.hpp"
#include "encoder.hpp"
#include "file_io.hpp"
#include "platform.hpp"
#include "program.hpp"
#include "put_back.hpp"

namespace {

constexpr ProgramText program_text{
    "mio0-encode",
    "InFile OutFile",
    "    InFile     The name of the file to compress\n"
    "    OutFile    The file that receives the MIO0 block\n"
    "    ImageFile  The file whose block at offset is replaced\n"
    "    offset     The offset of that block, decimal or 0x and hexadecimal\n",
    "InFile ImageFile offset",
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

constexpr FixedMessage<PutBackStatus> put_back_messages[] = {
    {PutBackStatus::InputOpenFailed, "\nCould not open input file\n"},
    {PutBackStatus::InputReadFailed, "\nCould not read input file\n"},
    {PutBackStatus::OutOfMemory, "\nCould not allocate memory\n"},
    {PutBackStatus::InputTooLarge, "\nInput is too large for MIO0\n"},
    {PutBackStatus::ImageUnreadable, "\nCould not open file\n"},
    {PutBackStatus::NotABlock, "\nData is not MIO0\n"},
    {PutBackStatus::WriteFailed, "\nCould not write the file\n"},
    {PutBackStatus::CheckFailed, "\nInternal fault: the new block would not decode to InFile; ImageFile is unchanged\n"},
};

int run_put_back(const char* input, const char* image, const char* offset_text)
{
    const std::optional<std::uint32_t> offset = parse_offset(offset_text);
    if (!offset)
        return refuse("\nInvalid offset\n");
    prepare_process();
    const PutBackResult result = put_back(input, image, *offset);
    if (result.status == PutBackStatus::DoesNotFit) {
        std::printf("\nBlock does not fit: %llu bytes, room for %llu\n",
                    static_cast<unsigned long long>(result.new_length), static_cast<unsigned long long>(result.room));
        return exit_failure;
    }
    if (result.status != PutBackStatus::Ok)
        return fail(message_for(put_back_messages, result.status));
    return exit_success;
}

int run_encoder(int argc, char** argv)
{
    if (const auto answered = answer_help_or_version(program_text, argc, argv))
        return *answered;
    if (argc != 3 && argc != 4) {
        print_usage(program_text, argc, argv);
        return exit_usage;
    }
    if (argc == 4)
        return run_put_back(argv[1], argv[2], argv[3]);
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
