#include "tests/upload/script_peer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace ringolan::upload::testing {

namespace {

bool readable(int fd, std::chrono::milliseconds limit) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, static_cast<int>(limit.count())) > 0;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace

std::string reply(std::string_view status_line, std::string_view headers, std::string_view body) {
    std::string out(status_line);
    out += "\r\n";
    out += headers;
    out += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
    out += body;
    return out;
}

PeerConn::PeerConn(int fd, SSL* ssl, std::string& record, std::mutex& record_mutex)
    : fd_(fd), ssl_(ssl), record_(record), record_mutex_(record_mutex) {}

PeerConn::~PeerConn() { close(); }

bool PeerConn::fill(std::chrono::milliseconds limit) {
    if (fd_ < 0) return false;
    if (!(ssl_ && SSL_pending(ssl_) > 0) && !readable(fd_, limit)) return false;
    char chunk[16384];
    long n = ssl_ ? SSL_read(ssl_, chunk, sizeof chunk) : ::recv(fd_, chunk, sizeof chunk, 0);
    if (n <= 0) return false;
    buffer_.append(chunk, static_cast<std::size_t>(n));
    std::lock_guard lock(record_mutex_);
    record_.append(chunk, static_cast<std::size_t>(n));
    return true;
}

std::string PeerConn::read_request() {
    std::size_t end;
    while ((end = buffer_.find("\r\n\r\n")) == std::string::npos)
        if (!fill(std::chrono::seconds(10))) return {};
    end += 4;
    std::string head = lower(buffer_.substr(0, end));
    std::size_t length = 0;
    if (auto at = head.find("\r\ncontent-length:"); at != std::string::npos)
        length = std::stoul(head.substr(at + 17, head.find("\r\n", at + 2) - at - 17));
    while (buffer_.size() < end + length)
        if (!fill(std::chrono::seconds(10))) return {};
    std::string request = buffer_.substr(0, end + length);
    buffer_.erase(0, end + length);
    return request;
}

bool PeerConn::wait_closed(std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (fd_ >= 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        if (!readable(fd_, left)) return false;
        if (!fill(left)) return true;
    }
    return true;
}

void PeerConn::send(std::string_view bytes) {
    while (!bytes.empty() && fd_ >= 0) {
        long n = ssl_ ? SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()))
                      : ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return;
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void PeerConn::send_slowly(std::string_view bytes, std::size_t piece, std::chrono::milliseconds pause) {
    while (!bytes.empty()) {
        std::size_t n = std::min(piece, bytes.size());
        send(bytes.substr(0, n));
        bytes.remove_prefix(n);
        std::this_thread::sleep_for(pause);
    }
}

void PeerConn::close() {
    if (ssl_) {
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
        ssl_ = nullptr;
    }
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
}

ScriptPeer::ScriptPeer(std::vector<Script> scripts, const TlsIdentity* tls) : scripts_(std::move(scripts)) {
    if (tls) {
        tls_ = SSL_CTX_new(TLS_server_method());
        if (!tls_ || SSL_CTX_use_certificate_chain_file(tls_, tls->certificate.c_str()) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls_, tls->key.c_str(), SSL_FILETYPE_PEM) != 1)
            throw std::runtime_error("test peer: cannot load the TLS identity");
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listener_, 16) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("test peer: cannot listen");
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

ScriptPeer::~ScriptPeer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    acceptor_.join();
    for (auto& worker : workers_) worker.join();
    ::close(listener_);
    if (tls_) SSL_CTX_free(tls_);
}

std::string ScriptPeer::base(std::string_view host) const {
    return std::string(tls_ ? "https://" : "http://") + std::string(host) + ":" + std::to_string(port_);
}

int ScriptPeer::connections() const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(records_.size());
}

std::vector<std::string> ScriptPeer::received() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& record : records_) out.push_back(*record);
    return out;
}

void ScriptPeer::accept_loop() {
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (stopping_) return;
        }
        if (!readable(listener_, std::chrono::milliseconds(20))) continue;
        int fd = ::accept(listener_, nullptr, nullptr);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        std::size_t index = records_.size();
        records_.push_back(std::make_unique<std::string>());
        Script script = index < scripts_.size() ? scripts_[index] : Script();
        std::string* record = records_.back().get();
        workers_.emplace_back([this, fd, script, record] {
            SSL* ssl = nullptr;
            if (tls_) {
                ssl = SSL_new(tls_);
                SSL_set_fd(ssl, fd);
                if (SSL_accept(ssl) != 1) {
                    SSL_free(ssl);
                    ::close(fd);
                    return;
                }
            }
            PeerConn conn(fd, ssl, *record, mutex_);
            if (script) script(conn);
        });
    }
}

}  // namespace ringolan::upload::testing
