// A loopback TCP proxy for tests that can drop one reply: the chosen chunk of bytes from the
// target is not passed on and its connection is closed on both sides, as a network failure
// after the server has done the work would.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

namespace ringolan::test_upload {

class CuttingProxy {
public:
    explicit CuttingProxy(std::uint16_t target_port);
    ~CuttingProxy();
    CuttingProxy(const CuttingProxy&) = delete;
    CuttingProxy& operator=(const CuttingProxy&) = delete;

    std::uint16_t port() const { return port_; }
    // The n-th chunk of reply bytes from now on (n >= 1) is dropped with its connection.
    void cut_reply(int n) { countdown_ = n; }
    int cuts() const { return cuts_; }

private:
    void accept_loop();
    void serve(int client);

    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::uint16_t target_;
    std::atomic<int> countdown_{0};
    std::atomic<int> cuts_{0};
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<std::thread> connections_;
    std::thread acceptor_;
};

}  // namespace ringolan::test_upload
