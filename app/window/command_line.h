// Options of the desktop program for tests and unattended use. Without them the program
// takes its settings file from the usual place and serves on port 80.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace ringolan::window {

struct CommandLine {
    std::optional<std::filesystem::path> ini;  // --ini FILE: this settings file
    uint16_t port = 80;                        // --port N: 0 picks a free port
    bool help = false;     // --help, -h
    bool version = false;  // --version
};

inline constexpr char kCommandLineUsage[] =
    "usage: ringolan [--ini FILE] [--port N]\n"
    "  --ini FILE  settings file to use instead of ringolan.ini beside the program\n"
    "  --port N    port of the page server (default 80; 0 picks a free port)\n";

// The --help text: the usage above with what the program does, examples and exit codes.
std::string command_line_help();

// Parses the arguments after the program name. Arguments that Qt itself takes
// (-platform, -style, ...) must have been removed. Throws std::invalid_argument with a
// message for unknown options, missing values and ports outside 0..65535.
CommandLine parse_command_line(const std::vector<std::string>& args);

}  // namespace ringolan::window
