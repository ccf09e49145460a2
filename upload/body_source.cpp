#include "upload/body_source.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "common/error.h"

namespace ringolan::upload {

std::size_t StringBodySource::read(char* out, std::size_t max) {
    std::size_t n = std::min(max, bytes_.size() - pos_);
    std::memcpy(out, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
}

std::uint64_t StreamBodySource::size() {
    in_.clear();
    auto here = in_.tellg();
    in_.seekg(0, std::ios::end);
    auto end = in_.tellg();
    in_.seekg(here);
    if (here < 0 || end < 0 || !in_) throw Error("Request body cannot be measured");
    return static_cast<std::uint64_t>(end);
}

void StreamBodySource::rewind() {
    in_.clear();
    in_.seekg(0);
    if (!in_) throw Error("Request body cannot be rewound");
}

std::size_t StreamBodySource::read(char* out, std::size_t max) {
    in_.read(out, static_cast<std::streamsize>(max));
    auto n = in_.gcount();
    if (in_.bad()) throw Error("Request body cannot be read");
    return static_cast<std::size_t>(n);
}

FileBodySource::FileBodySource(const std::filesystem::path& file) : file_(file, std::ios::binary) {
    if (!file_) throw Error("Cannot open " + file.string());
}

}  // namespace ringolan::upload
