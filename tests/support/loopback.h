// A TCP connection to a port of this computer, for tests that talk to a server directly.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>

namespace ringolan::test_support {

// The connected socket, or -1. receive_limit: longest wait in one recv (0: none), so that no
// test can hang; receive_buffer: the socket's receive buffer in bytes (0: the system's).
inline int connect_loopback(uint16_t port, std::chrono::milliseconds receive_limit = std::chrono::milliseconds(0),
                            int receive_buffer = 0) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (receive_buffer > 0) ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receive_buffer, sizeof receive_buffer);
    if (receive_limit.count() > 0) {
        const auto us = std::chrono::duration_cast<std::chrono::microseconds>(receive_limit).count();
        timeval tv{time_t(us / 1000000), suseconds_t(us % 1000000)};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace ringolan::test_support
