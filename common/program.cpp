#include "program.hpp"

#include <cstring>
#include <initializer_list>

#ifndef MIO0_VERSION
#error "MIO0_VERSION comes from project() in the top CMakeLists.txt"
#endif

namespace {

// The answer is the whole job of such a run, so one that could not be
// written (standard output on a full disk) is not a success.
int answered()
{
    return std::fflush(stdout) == 0 && !std::ferror(stdout) ? exit_success : exit_failure;
}

} // namespace

void print_usage(const ProgramText& program, int argc, char** argv)
{
    std::fputs("\nSyntax:\n", stdout);
    for (const char* synopsis : {program.synopsis, program.second_synopsis}) {
        if (synopsis == nullptr)
            continue;
        if (argc > 0 && argv[0] != nullptr)
            std::fputs(argv[0], stdout);
        std::fputc(' ', stdout);
        std::fputs(synopsis, stdout);
        std::fputc('\n', stdout);
    }
    std::fputc('\n', stdout);
    std::fputs(program.usage_body, stdout);
}

std::optional<int> answer_help_or_version(const ProgramText& program, int argc, char** argv)
{
    if (argc != 2)
        return std::nullopt;
    if (std::strcmp(argv[1], "--help") == 0) {
        print_usage(program, argc, argv);
        return answered();
    }
    if (std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s\n", program.name, MIO0_VERSION);
        return answered();
    }
    return std::nullopt;
}

int fail(const char* message, std::FILE* stream)
{
    std::fputs(message, stream);
    return exit_failure;
}

int refuse(const char* message)
{
    std::fputs(message, stdout);
    return exit_usage;
}
