// One client connection to the publishing site, plain TCP or TLS, with a time limit on every
// step. Asio stays inside the implementation.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/error.h"
#include "upload/http_address.h"

namespace ringolan::upload {

// A failure of the socket layer (no connection, a broken connection, a refused certificate).
struct TransportError : public Error {
    using Error::Error;
};

// A time limit passed.
struct TimeoutError : TransportError {
    using TransportError::TransportError;
};

// The request was cancelled (Transport::cancel).
struct CancelledError : TransportError {
    using TransportError::TransportError;
};

struct TlsSettings {
    // Certificates (PEM) trusted for https; empty: the system's trust store.
    std::filesystem::path ca_file;
};

class Transport {
public:
    Transport();
    ~Transport();
    Transport(const Transport&) = delete;
    Transport& operator=(const Transport&) = delete;

    // Resolves and connects to the address's host and port, and for https performs the TLS
    // handshake, checking the certificate chain and that the certificate names the host.
    // All of it within limit. Closes a connection that is still open first.
    void connect(const Address& address, const TlsSettings& tls, std::chrono::milliseconds limit);
    bool is_open() const;
    void close();

    // May be called from any thread: ends the operation in progress and refuses every later
    // one with CancelledError until resume is called.
    void cancel();
    void resume();
    bool cancelled() const;

    // Sends all bytes within limit.
    void write(std::string_view bytes, std::chrono::milliseconds limit);
    // Reads at least one byte within limit; 0 when the peer has closed the connection.
    std::size_t read_some(char* out, std::size_t max, std::chrono::milliseconds limit);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ringolan::upload
