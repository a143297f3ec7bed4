#pragma once

// What the three entry routines share: exit statuses, the usage text,
// --help and --version, and the one way a fixed message is printed. The
// stages never print; only an entry routine calls these.

#include <cstddef>
#include <cstdio>
#include <optional>

inline constexpr int exit_success = 0;
inline constexpr int exit_failure = 1; // after one of the fixed messages
inline constexpr int exit_usage = 2;   // after the usage text or a refused argument

// The fixed texts of one program.
struct ProgramText {
    const char* name;     // the installed name, as --version prints it
    const char* synopsis; // the usage line after the invocation name
    // The rest of the usage text, printed as it stands: the argument lines
    // in two fixed-width columns and anything after them.
    const char* usage_body;
    // A second usage line after the invocation name, for a program with two
    // forms; none when null.
    const char* second_synopsis = nullptr;
};

// Prints the usage text: "\nSyntax:\n", the invocation name exactly as
// argument zero holds it (nothing when there is none), the synopsis (and
// the second one, again after the name), a blank line, then the usage body. All of it goes to standard output.
void print_usage(const ProgramText& program, int argc, char** argv);

// Answers a command line of one lone word "--help" (the usage text) or
// "--version" (one line, the name and the suite's version), each with exit
// status 0. Any other command line is left to the program: nullopt.
std::optional<int> answer_help_or_version(const ProgramText& program, int argc, char** argv);

// Prints a fixed message and gives the exit status that follows one.
int fail(const char* message, std::FILE* stream = stdout);

// Prints the fixed message of an argument that the program refuses, on
// standard output, and gives the exit status of a wrong command line.
int refuse(const char* message);

// One row of an entry routine's table from a stage's status to the fixed
// message it prints.
template <typename Status>
struct FixedMessage {
    Status status;
    const char* text;
};

// The text of `status` in `table`; an empty text for a status with no row,
// so that a failure is still a failure, printed or not.
template <typename Status, std::size_t N>
constexpr const char* message_for(const FixedMessage<Status> (&table)[N], const Status& status)
{
    for (const FixedMessage<Status>& row : table)
        if (row.status == status)
            return row.text;
    return "";
}
