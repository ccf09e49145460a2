// The options every program answers: --help and --version, and the exit codes they share
// (docs/exit-codes.md).
#pragma once

#include <string>
#include <string_view>

namespace ringolan::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

enum class StandardOption { none, help, version };

// "--help" and "-h" ask for the help text, "--version" for the version line.
StandardOption standard_option(std::string_view arg);

// "<program> <version> (<commit>)\n".
std::string version_line(std::string_view program);

// Prints the text to standard output; 0, or 1 when it could not be written.
int print_to_stdout(std::string_view text);

// The answer to a standard option (help text or version line) on standard output; its exit code.
int answer(StandardOption option, std::string_view program, std::string_view help);

}  // namespace ringolan::cli
