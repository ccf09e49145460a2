// A scripted peer for the HTTP client tests: listens on loopback, runs one script per accepted
// connection (each on a thread of its own) and records every byte it received. With a
// certificate and key it speaks TLS.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace ringolan::upload::testing {

class PeerConn {
public:
    PeerConn(int fd, SSL* ssl, std::string& record, std::mutex& record_mutex);
    ~PeerConn();

    // The next request: its head up to the empty line and as many body bytes as its
    // Content-Length says. "" when the client closed first.
    std::string read_request();
    // Reads until the client closes; true when it did within limit.
    bool wait_closed(std::chrono::milliseconds limit = std::chrono::seconds(10));
    void send(std::string_view bytes);
    // Sends in pieces of the given size with a pause between them.
    void send_slowly(std::string_view bytes, std::size_t piece, std::chrono::milliseconds pause);
    void close();

private:
    // Reads some bytes into buffer_; false at the end of the connection or after limit.
    bool fill(std::chrono::milliseconds limit);

    int fd_;
    SSL* ssl_;
    std::string buffer_;
    std::string& record_;
    std::mutex& record_mutex_;
};

struct TlsIdentity {
    std::filesystem::path certificate, key;  // PEM files
};

class ScriptPeer {
public:
    using Script = std::function<void(PeerConn&)>;

    explicit ScriptPeer(std::vector<Script> scripts, const TlsIdentity* tls = nullptr);
    ~ScriptPeer();

    uint16_t port() const { return port_; }
    // "http://127.0.0.1:port" (or https and another host name).
    std::string base(std::string_view host = "127.0.0.1") const;
    int connections() const;
    // The bytes received on each connection so far, in the order of acceptance.
    std::vector<std::string> received() const;

private:
    void accept_loop();

    std::vector<Script> scripts_;
    SSL_CTX* tls_ = nullptr;
    int listener_ = -1;
    uint16_t port_ = 0;
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<std::string>> records_;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
    bool stopping_ = false;
};

// A reply with a Content-Length header: status line, extra header lines (each ending in \r\n),
// then the body.
std::string reply(std::string_view status_line, std::string_view headers, std::string_view body);

}  // namespace ringolan::upload::testing
