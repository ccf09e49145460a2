// A plain TCP client for tests of answers that stay open (event streams): it reads with a short
// limit, so no test can hang.
#pragma once

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "tests/support/loopback.h"

namespace ringolan::test_support {

class StreamClient {
public:
    // receive_buffer: the socket's receive buffer in bytes (0: the system's), small to make a
    // client that reads slowly.
    explicit StreamClient(uint16_t port, int receive_buffer = 0)
        : fd_(connect_loopback(port, std::chrono::milliseconds(200), receive_buffer)) {
        if (fd_ < 0) throw std::runtime_error("connect");
    }
    ~StreamClient() { ::close(fd_); }
    StreamClient(const StreamClient&) = delete;
    StreamClient& operator=(const StreamClient&) = delete;

    void send(std::string_view bytes) { ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL); }

    // Reads until done(received) holds, the server closed, or the limit passed; all received.
    const std::string& read_until(const std::function<bool(const std::string&)>& done,
                                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        char buf[16384];
        while (!done(received_) && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0) {
                closed_ = true;
                break;
            }
            if (n > 0) received_.append(buf, std::size_t(n));
        }
        return received_;
    }
    // The same until `wanted` has arrived.
    const std::string& read_until(std::string_view wanted,
                                  std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
        return read_until([wanted](const std::string& s) { return s.find(wanted) != std::string::npos; }, limit);
    }
    bool closed() const { return closed_; }

private:
    int fd_ = -1;
    std::string received_;
    bool closed_ = false;
};

}  // namespace ringolan::test_support
