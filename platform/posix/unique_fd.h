// Owner of a POSIX file descriptor: closes it when destroyed or replaced. Only for the
// platform layer's POSIX implementation files (and their tests).
#pragma once

#include <unistd.h>

#include <utility>

namespace ringolan::platform {

class UniqueFd {
public:
    explicit UniqueFd(int fd = -1) : fd_(fd) {}
    ~UniqueFd() { reset(); }
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    // Closes the descriptor held (if any) and takes fd.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }
    // Gives up ownership without closing.
    int release() { return std::exchange(fd_, -1); }

private:
    int fd_;
};

}  // namespace ringolan::platform
