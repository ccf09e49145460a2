#include "cutting_proxy.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ringolan::test_upload {

namespace {

sockaddr_in loopback(std::uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

bool send_all(int fd, const char* p, std::size_t n) {
    while (n > 0) {
        const ssize_t sent = ::send(fd, p, n, MSG_NOSIGNAL);
        if (sent <= 0) return false;
        p += sent;
        n -= std::size_t(sent);
    }
    return true;
}

}  // namespace

CuttingProxy::CuttingProxy(std::uint16_t target_port) : target_(target_port) {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t size = sizeof a;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&a), &size) != 0)
        throw std::runtime_error("proxy: cannot listen");
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

CuttingProxy::~CuttingProxy() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    acceptor_.join();
    ::close(listener_);
    std::lock_guard guard(mutex_);
    for (std::thread& t : connections_) t.join();
}

void CuttingProxy::accept_loop() {
    while (!stop_) {
        const int client = ::accept(listener_, nullptr, nullptr);
        if (client < 0) break;
        std::lock_guard guard(mutex_);
        connections_.emplace_back([this, client] { serve(client); });
    }
}

void CuttingProxy::serve(int client) {
    const int target = ::socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = loopback(target_);
    if (::connect(target, reinterpret_cast<const sockaddr*>(&a), sizeof a) == 0) {
        pollfd fds[2] = {{client, POLLIN, 0}, {target, POLLIN, 0}};
        char buffer[64 * 1024];
        while (!stop_) {
            if (::poll(fds, 2, 100) < 0) break;
            if (fds[0].revents) {
                const ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0 || !send_all(target, buffer, std::size_t(n))) break;
            }
            if (fds[1].revents) {
                const ssize_t n = ::recv(target, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                if (countdown_ > 0 && --countdown_ == 0) {
                    ++cuts_;
                    break;
                }
                if (!send_all(client, buffer, std::size_t(n))) break;
            }
        }
    }
    ::close(target);
    ::close(client);
}

}  // namespace ringolan::test_upload
