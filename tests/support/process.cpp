#include "tests/support/process.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

namespace ringolan::readback {

Outcome run_program(const std::string& program, const std::string& args, const std::filesystem::path& dir) {
    const auto out = dir / "stdout.bin", err = dir / "stderr.txt";
    const int rc = std::system((program + " " + args + " >" + out.string() + " 2>" + err.string()).c_str());
    return {WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, file_bytes(out), file_bytes(err)};
}

std::string file_bytes(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::filesystem::path scratch_dir(const std::string& prefix) {
    auto d = std::filesystem::temp_directory_path() / (prefix + "_" + std::to_string(::getpid()));
    std::filesystem::create_directories(d);
    return d;
}

}  // namespace ringolan::readback
