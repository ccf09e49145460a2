// A plain HTTP connection for event streams: reads with a short limit, so no test can hang.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace site_test {

// A connection that reads with a short limit, so no test can hang.
class Client {
public:
    Client(uint16_t port, const std::string& path) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        timeval tv{0, 200000};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_port = htons(port);
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) throw std::runtime_error("connect");
        const std::string request = "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
        ::send(fd_, request.data(), request.size(), MSG_NOSIGNAL);
    }
    ~Client() { ::close(fd_); }
    // Reads until done(received) holds, the server closed, or the limit passed.
    const std::string& read_until(const std::function<bool(const std::string&)>& done,
                                  std::chrono::milliseconds limit = std::chrono::milliseconds(5000)) {
        const auto end = std::chrono::steady_clock::now() + limit;
        char buf[16384];
        while (!done(received_) && std::chrono::steady_clock::now() < end) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n == 0) break;
            if (n > 0) received_.append(buf, std::size_t(n));
        }
        return received_;
    }

private:
    int fd_;
    std::string received_;
};

// The state numbers of the events received so far.
inline std::vector<std::uint64_t> states(const std::string& stream) {
    static const std::regex event("event: state\nid: [^\n]*\ndata: \\{\"state\": ([0-9]+)\\}\n\n");
    std::vector<std::uint64_t> out;
    for (std::sregex_iterator it(stream.begin(), stream.end(), event), end; it != end; ++it)
        out.push_back(std::stoull((*it)[1]));
    return out;
}

}  // namespace site_test
