// A long answer body held in an anonymous in-memory file, so that the socket layer can send it
// with sendfile: the kernel then refers to the file's pages instead of copying the bytes for
// every answer. The file is written once and never changed.
#pragma once

#include <cstddef>
#include <memory>
#include <string_view>

namespace ringolan::server {

class BodyFile {
public:
    // The bytes in a new file; nullptr when none can be made (the bytes are then sent from memory).
    static std::shared_ptr<const BodyFile> of(std::string_view bytes);
    ~BodyFile();
    BodyFile(const BodyFile&) = delete;
    BodyFile& operator=(const BodyFile&) = delete;

    int fd() const { return fd_; }
    std::size_t size() const { return size_; }

private:
    BodyFile(int fd, std::size_t size) : fd_(fd), size_(size) {}
    int fd_;
    std::size_t size_;
};

}  // namespace ringolan::server
