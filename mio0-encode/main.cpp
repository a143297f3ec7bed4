// mio0-encode: compresses a whole file into one MIO0 block.

#include <cstdio>

#include "encoder.hpp"
#include "put_back.hpp"
#include "file_io.hpp"
#include "platform.hpp"

namespace {

// Temporary: the strict offset rule until the shared one lands.
bool parse_offset_strict(const char* text, std::uint32_t& offset)
{
    std::uint64_t value = 0;
    int base = 10;
    const char* p = text;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    }
    if (*p == 0)
        return false;
    for (; *p != 0; ++p) {
        int digit = -1;
        if (*p >= '0' && *p <= '9') digit = *p - '0';
        else if (base == 16 && *p >= 'a' && *p <= 'f') digit = *p - 'a' + 10;
        else if (base == 16 && *p >= 'A' && *p <= 'F') digit = *p - 'A' + 10;
        if (digit < 0) return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
        if (value > 0xFFFFFFFFu) return false;
    }
    offset = static_cast<std::uint32_t>(value);
    return true;
}

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;

int fail(const char* message)
{
    std::fputs(message, stdout);
    return exit_failure;
}

int run_put_back(const char* input, const char* image, const char* offset_text)
{
    std::uint32_t offset = 0;
    if (!parse_offset_strict(offset_text, offset)) {
        std::fputs("\nInvalid offset\n", stdout);
        return exit_usage;
    }
    const PutBackResult result = put_back(input, image, offset);
    switch (result.status) {
    case PutBackStatus::Ok:
        return 0;
    case PutBackStatus::InputOpenFailed:
        return fail("\nCould not open input file\n");
    case PutBackStatus::InputReadFailed:
        return fail("\nCould not read input file\n");
    case PutBackStatus::OutOfMemory:
        return fail("\nCould not allocate memory\n");
    case PutBackStatus::InputTooLarge:
        return fail("\nInput is too large for MIO0\n");
    case PutBackStatus::ImageUnreadable:
        return fail("\nCould not open file\n");
    case PutBackStatus::NotABlock:
        return fail("\nData is not MIO0\n");
    case PutBackStatus::DoesNotFit:
        std::printf("\nBlock does not fit: %llu bytes, room for %llu\n",
                    static_cast<unsigned long long>(result.new_length), static_cast<unsigned long long>(result.room));
        return exit_failure;
    case PutBackStatus::WriteFailed:
        return fail("\nCould not write the file\n");
    case PutBackStatus::CheckFailed:
        break;
    }
    return fail("\nInternal fault: the new block does not decode to InFile; ImageFile is unchanged\n");
}

int run_encoder(int argc, char** argv)
{
    if (argc != 3 && argc != 4) {
        const char* name = argc > 0 ? argv[0] : "";
        std::printf("\nSyntax:\n%s InFile OutFile\n%s InFile ImageFile offset\n\n", name, name);
        std::fputs("    InFile     The name of the file to compress\n", stdout);
        std::fputs("    OutFile    The file that receives the MIO0 block\n", stdout);
        std::fputs("    ImageFile  The file whose block at offset is replaced\n", stdout);
        std::fputs("    offset     The offset of that block, decimal or 0x and hexadecimal\n", stdout);
        return exit_usage;
    }
    if (argc == 4)
        return run_put_back(argv[1], argv[2], argv[3]);
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
