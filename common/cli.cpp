#include "common/cli.h"

#include <cstdio>

#include "common/version.h"

namespace ringolan::cli {

StandardOption standard_option(std::string_view arg) {
    if (arg == "--help" || arg == "-h") return StandardOption::help;
    if (arg == "--version") return StandardOption::version;
    return StandardOption::none;
}

std::string version_line(std::string_view program) {
    std::string line(program);
    line.append(" ").append(build_info::kVersion).append(" (").append(build_info::kCommit).append(")\n");
    return line;
}

int print_to_stdout(std::string_view text) {
    const bool written = std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
    return written && std::fflush(stdout) == 0 ? kExitOk : kExitFailure;
}

int answer(StandardOption option, std::string_view program, std::string_view help) {
    return print_to_stdout(option == StandardOption::version ? version_line(program) : std::string(help));
}

}  // namespace ringolan::cli
