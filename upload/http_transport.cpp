#include "upload/http_transport.h"

#include <asio.hpp>
#include <asio/ssl.hpp>

#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

#include <atomic>
#include <optional>

namespace ringolan::upload {

namespace {

using asio::ip::tcp;
using Clock = std::chrono::steady_clock;

}  // namespace

struct Transport::Impl {
    asio::io_context io;
    tcp::socket socket{io};
    tcp::resolver resolver{io};
    std::atomic<bool> cancelled{false};
    std::unique_ptr<asio::ssl::context> tls_context;
    std::filesystem::path tls_context_ca;
    std::unique_ptr<asio::ssl::stream<tcp::socket&>> tls;
    std::string peer;  // host:port, for messages

    // Runs the started operation until done is set or the deadline passes. On time-out the
    // operation is ended (by closing the socket unless abort says otherwise) and false is returned.
    template <typename Abort>
    bool wait(const bool& done, Clock::time_point deadline, Abort&& abort) {
        io.restart();
        io.run_until(deadline);
        if (done) return true;
        abort();
        io.restart();
        io.run();
        return false;
    }

    bool wait(const bool& done, Clock::time_point deadline) {
        return wait(done, deadline, [this] {
            asio::error_code ignored;
            socket.close(ignored);
        });
    }

    asio::ssl::context& context_for(const TlsSettings& settings) {
        if (tls_context && tls_context_ca == settings.ca_file) return *tls_context;
        auto context = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_client);
        context->set_options(asio::ssl::context::default_workarounds | asio::ssl::context::no_sslv2 |
                             asio::ssl::context::no_sslv3);
        asio::error_code ec;
        if (settings.ca_file.empty()) context->set_default_verify_paths(ec);
        else context->load_verify_file(settings.ca_file.string(), ec);
        if (ec)
            throw TransportError("Cannot load trusted certificates" +
                                 (settings.ca_file.empty() ? std::string() : " from " + settings.ca_file.string()) +
                                 ": " + ec.message());
        tls_context = std::move(context);
        tls_context_ca = settings.ca_file;
        return *tls_context;
    }

    void handshake(const Address& address, const TlsSettings& settings, Clock::time_point deadline) {
        tls = std::make_unique<asio::ssl::stream<tcp::socket&>>(socket, context_for(settings));
        SSL* ssl = tls->native_handle();
        asio::error_code not_ip;
        asio::ip::make_address(address.host, not_ip);
        if (!not_ip) {
            X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl), address.host.c_str());
        } else {
            SSL_set_tlsext_host_name(ssl, address.host.c_str());
            SSL_set1_host(ssl, address.host.c_str());
        }
        tls->set_verify_mode(asio::ssl::verify_peer);

        bool done = false;
        asio::error_code ec;
        tls->async_handshake(asio::ssl::stream_base::client, [&](const asio::error_code& e) {
            ec = e;
            done = true;
        });
        if (!wait(done, deadline)) throw TimeoutError("Connect timed out (TLS handshake with " + peer + ")");
        check_cancelled();
        if (ec) {
            long verify = SSL_get_verify_result(ssl);
            if (verify != X509_V_OK)
                throw TransportError("Certificate of " + peer + " not accepted: " +
                                     X509_verify_cert_error_string(verify));
            throw TransportError("TLS handshake with " + peer + " failed: " + ec.message());
        }
    }

    void check_cancelled() const {
        if (cancelled) throw CancelledError("Request cancelled");
    }

    template <typename Operation>
    void with_stream(Operation&& op) {
        if (tls) op(*tls);
        else op(socket);
    }
};

Transport::Transport() : impl_(std::make_unique<Impl>()) {}

Transport::~Transport() = default;

bool Transport::is_open() const { return impl_->socket.is_open(); }

void Transport::cancel() {
    Impl* d = impl_.get();
    d->cancelled = true;
    // Runs on the thread that waits for the operation, inside Impl::wait.
    asio::post(d->io, [d] {
        if (!d->cancelled) return;
        d->resolver.cancel();
        asio::error_code ignored;
        d->socket.close(ignored);
    });
}

void Transport::resume() { impl_->cancelled = false; }

bool Transport::cancelled() const { return impl_->cancelled; }

void Transport::close() {
    impl_->tls.reset();
    asio::error_code ignored;
    impl_->socket.close(ignored);
}

void Transport::connect(const Address& address, const TlsSettings& tls, std::chrono::milliseconds limit) {
    close();
    Impl& d = *impl_;
    d.peer = (address.host.find(':') != std::string::npos ? "[" + address.host + "]" : address.host) + ":" +
             std::to_string(address.port);
    const auto deadline = Clock::now() + limit;
    d.check_cancelled();

    tcp::resolver::results_type endpoints;
    asio::error_code ec;
    bool done = false;
    d.resolver.async_resolve(address.host, std::to_string(address.port),
                           [&](const asio::error_code& e, tcp::resolver::results_type results) {
                               ec = e;
                               endpoints = std::move(results);
                               done = true;
                           });
    if (!d.wait(done, deadline, [&] { d.resolver.cancel(); })) {
        throw TimeoutError("Connect timed out (resolving " + address.host + ")");
    }
    d.check_cancelled();
    if (ec) throw TransportError(ec.message() + " (resolving " + address.host + ")");

    done = false;
    asio::async_connect(d.socket, endpoints, [&](const asio::error_code& e, const tcp::endpoint&) {
        ec = e;
        done = true;
    });
    if (!d.wait(done, deadline)) throw TimeoutError("Connect timed out (connecting to " + d.peer + ")");
    if (ec || d.cancelled) {
        close();
        d.check_cancelled();
        throw TransportError(ec.message() + " (connecting to " + d.peer + ")");
    }
    asio::error_code ignored;
    d.socket.set_option(tcp::no_delay(true), ignored);

    if (address.tls) {
        try {
            d.handshake(address, tls, deadline);
        } catch (...) {
            close();
            throw;
        }
    }
}

void Transport::write(std::string_view bytes, std::chrono::milliseconds limit) {
    Impl& d = *impl_;
    d.check_cancelled();
    if (!is_open()) throw TransportError("Not connected");
    asio::error_code ec;
    bool done = false;
    d.with_stream([&](auto& stream) {
        asio::async_write(stream, asio::buffer(bytes.data(), bytes.size()),
                          [&](const asio::error_code& e, std::size_t) {
                              ec = e;
                              done = true;
                          });
    });
    if (!d.wait(done, Clock::now() + limit)) {
        close();
        throw TimeoutError("Send timed out (" + d.peer + ")");
    }
    if (ec || d.cancelled) {
        close();
        d.check_cancelled();
        throw TransportError(ec.message() + " (sending to " + d.peer + ")");
    }
}

std::size_t Transport::read_some(char* out, std::size_t max, std::chrono::milliseconds limit) {
    Impl& d = *impl_;
    d.check_cancelled();
    if (!is_open()) throw TransportError("Not connected");
    asio::error_code ec;
    std::size_t n = 0;
    bool done = false;
    d.with_stream([&](auto& stream) {
        stream.async_read_some(asio::buffer(out, max), [&](const asio::error_code& e, std::size_t got) {
            ec = e;
            n = got;
            done = true;
        });
    });
    if (!d.wait(done, Clock::now() + limit)) {
        close();
        throw TimeoutError("Read timed out (" + d.peer + ")");
    }
    if (d.cancelled) {
        close();
        d.check_cancelled();
    }
    if (ec == asio::error::eof || ec == asio::ssl::error::stream_truncated) return 0;
    if (ec) {
        close();
        throw TransportError(ec.message() + " (reading from " + d.peer + ")");
    }
    return n;
}

}  // namespace ringolan::upload
