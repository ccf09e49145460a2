// Running the project's programs from tests.
#pragma once

#include <filesystem>
#include <string>

namespace ringolan::readback {

struct Outcome {
    int code;  // exit code, -1 when the program did not exit normally
    std::string out, err;
};

// Runs "program args" through the shell (args as written), capturing standard output and
// standard error through files in dir.
Outcome run_program(const std::string& program, const std::string& args, const std::filesystem::path& dir);

// The whole content of a file ("" when it cannot be read).
std::string file_bytes(const std::filesystem::path& file);

// A folder of this test process below the temporary folder, created when missing.
std::filesystem::path scratch_dir(const std::string& prefix);

}  // namespace ringolan::readback
