// Helpers of the site tests: gzip members as an upload makes them, and scratch folders.
#pragma once

#include "upload/gzip_file.h"

#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

namespace site_test {

// One gzip member of `data`, as an upload makes it.
inline std::string gzip(std::string_view data) { return ringolan::upload::gzip_bytes(data, "dp.sql"); }

// Bytes that do not compress.
inline std::string noise(std::size_t n, unsigned seed = 7) {
    std::mt19937 gen(seed);
    std::string out(n, '\0');
    for (char& c : out) c = char(gen() & 0xFF);
    return out;
}

class TempDir {
public:
    TempDir() {
        std::random_device rd;
        path_ = std::filesystem::temp_directory_path() / ("ringolan-site-test-" + std::to_string(rd()));
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

}  // namespace site_test
