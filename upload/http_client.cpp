#include "upload/http_client.h"

#include <algorithm>
#include <array>
#include <optional>
#include <vector>

#include "common/ascii.h"
#include "common/error.h"

namespace ringolan::upload {

namespace {

using Clock = std::chrono::steady_clock;

bool succeeded(const ReplyHead& head) {
    return head.status >= 200 && head.status <= 299 && !head.find("Location");
}

// A failure on a kept connection that may only mean the site had closed it meanwhile.
bool retryable(const TransportError& e) {
    return !dynamic_cast<const TimeoutError*>(&e) && !dynamic_cast<const CancelledError*>(&e);
}

std::string_view path_of(std::string_view target) { return target.substr(0, target.find('?')); }

// Whether the connection may carry the next request once this reply has been read.
bool reply_keeps_connection(const ReplyHead& head, bool http10_request) {
    auto connection = head.find("Connection");
    if (!connection) connection = head.find("Proxy-Connection");
    std::string value = connection ? text::ascii_lower(*connection) : std::string();
    return http10_request ? value == "keep-alive" : value != "close";
}

// Reads one reply from the transport: the body of a success goes to the sink; the body of an
// error is kept (up to kMaxTextReplyBytes) for the error and read for at most
// error_body_timeout after it began, so that a slow error page does not hold the upload.
class ReplyReader {
public:
    ReplyReader(Transport& transport, const ClientOptions& options, const Address& address, bool reused,
                const HttpClient::ReplySink& sink)
        : transport_(transport), options_(options), address_(address), reused_(reused), sink_(sink),
          reply_deadline_(Clock::now() + options.reply_timeout) {}

    // Reads until the reply is complete, the peer closes, or an error body's time is up.
    // False when a kept connection turns out closed before the reply began (the request may
    // be sent again over a new one). Throws TransportError (TimeoutError past the reply limit)
    // and ReplyFormatError.
    bool read() {
        while (!parser_.done()) {
            bool cut_by_reply_limit = false;
            const std::optional<std::chrono::milliseconds> limit = read_limit(cut_by_reply_limit);
            if (!limit) break;
            std::size_t n = 0;
            try {
                n = transport_.read_some(buffer_.data(), buffer_.size(), *limit);
            } catch (const TimeoutError&) {
                if (error_deadline_) break;
                if (cut_by_reply_limit) throw reply_late();
                throw;
            } catch (const TransportError& e) {
                if (reused_ && !parser_.started() && retryable(e)) return false;
                throw;
            }
            if (n == 0) {
                if (reused_ && !parser_.started()) return false;
                parser_.finish();
                break;
            }
            take(std::string_view(buffer_.data(), n));
        }
        return true;
    }

    const ReplyHead& head() const { return parser_.head(); }

    // Whether the connection may carry the next request.
    bool keeps_connection(bool http10_request) const {
        return parser_.done() && !parser_.until_close() && !leftover_ && reply_keeps_connection(head(), http10_request);
    }

    std::string take_error_body() { return std::move(error_body_); }

private:
    // The time the next read may take; nullopt when an error body's time is up. Throws
    // reply_late() when the reply limit has passed on a successful reply.
    std::optional<std::chrono::milliseconds> read_limit(bool& cut_by_reply_limit) const {
        auto limit = options_.read_timeout;
        if (error_deadline_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*error_deadline_ - Clock::now());
            if (left.count() <= 0) return std::nullopt;
            limit = left;
        }
        const auto reply_left = std::chrono::duration_cast<std::chrono::milliseconds>(reply_deadline_ - Clock::now());
        if (reply_left.count() <= 0) {
            if (error_deadline_) return std::nullopt;
            throw reply_late();
        }
        cut_by_reply_limit = reply_left < limit;
        return std::min(limit, reply_left);
    }

    TimeoutError reply_late() const {
        return TimeoutError("Reply not complete within " + std::to_string(options_.reply_timeout.count()) + " ms (" +
                            address_.host + ":" + std::to_string(address_.port) + ")");
    }

    // Parses bytes read and passes on the body they complete.
    void take(std::string_view bytes) {
        const std::size_t used = parser_.feed(bytes);
        leftover_ = used < bytes.size();
        if (!parser_.head_complete()) return;
        std::string piece = parser_.take_body();
        if (succeeded(parser_.head())) {
            if (sink_ && !piece.empty()) sink_(piece);
        } else {
            if (!error_deadline_) error_deadline_ = Clock::now() + options_.error_body_timeout;
            std::size_t room = kMaxTextReplyBytes - std::min(kMaxTextReplyBytes, error_body_.size());
            error_body_.append(piece, 0, std::min(piece.size(), room));
        }
    }

    Transport& transport_;
    const ClientOptions& options_;
    const Address& address_;
    const bool reused_;
    const HttpClient::ReplySink& sink_;
    const Clock::time_point reply_deadline_;
    ReplyParser parser_;
    std::string error_body_;
    std::optional<Clock::time_point> error_deadline_;
    bool leftover_ = false;
    std::array<char, 16 * 1024> buffer_;
};

}  // namespace

HttpClient::HttpClient(ClientOptions options) : options_(std::move(options)) {}

void HttpClient::set_content_type(std::string content_type) {
    for (unsigned char c : content_type)
        if (c < 0x20 || c == 0x7F) throw std::invalid_argument("Content type with a control character");
    content_type_ = std::move(content_type);
}

std::string HttpClient::get(std::string_view address) {
    std::string body;
    send("GET", parse_address(address), nullptr, [&](std::string_view piece) {
        if (body.size() + piece.size() > kMaxTextReplyBytes) throw ReplyFormatError("Reply body too large");
        body += piece;
    });
    return body;
}

void HttpClient::post(std::string_view address, BodySource& body, const ReplySink& sink) {
    send("POST", parse_address(address), &body, sink);
}

void HttpClient::send(std::string_view method, const Address& address, BodySource* body, const ReplySink& sink) {
    if (body) {
        // Every POST goes over a new connection and, as HTTP/1.0, asks to keep it.
        transport_.close();
        keep_alive_header_ = true;
    }
    if (transport_.is_open() && !connected_.same_origin(address)) transport_.close();
    try {
        bool reused = transport_.is_open();
        if (!exchange(method, address, body, reused, sink)) {
            // The kept connection had been closed by the site before it saw the request.
            transport_.close();
            exchange(method, address, body, false, sink);
        }
    } catch (const HttpStatusError&) {
        throw;
    } catch (...) {
        transport_.close();
        throw;
    }
}

bool HttpClient::exchange(std::string_view method, const Address& address, BodySource* body, bool reused,
                          const ReplySink& sink) {
    if (!reused) {
        transport_.connect(address, options_.tls, options_.connect_timeout);
        connected_ = address;
    }
    std::uint64_t size = 0;
    if (body) {
        body->rewind();
        size = body->size();
    }
    try {
        transport_.write(request_head(method, address, body, size), options_.send_timeout);
        if (body) send_body(*body, size);
    } catch (const TransportError& e) {
        if (reused && retryable(e)) return false;
        throw;
    }

    ReplyReader reply(transport_, options_, address, reused, sink);
    if (!reply.read()) return false;
    const ReplyHead& head = reply.head();
    for (const char* name : {"Set-Cookie", "Set-Cookie2"})
        for (const std::string& value : head.all(name)) cookies_.store(address.host, path_of(address.target), value);
    if (!reply.keeps_connection(body != nullptr)) transport_.close();
    if (!succeeded(head)) throw HttpStatusError(head.status, head.status_line, reply.take_error_body());
    return true;
}

std::string HttpClient::request_head(std::string_view method, const Address& address, const BodySource* body,
                                     std::uint64_t body_size) const {
    std::string head;
    head.append(method).append(" ").append(address.target).append(body ? " HTTP/1.0\r\n" : " HTTP/1.1\r\n");
    auto line = [&head](std::string_view name, std::string_view value) {
        if (!value.empty()) head.append(name).append(": ").append(value).append("\r\n");
    };
    line("Connection", keep_alive_header_ ? "keep-alive" : "");
    line("Content-Type", content_type_);
    if (body) line("Content-Length", std::to_string(body_size));
    line("Host", address.host_header());
    line("Accept", kRequestAccept);
    line("User-Agent", kRequestUserAgent);
    line("Cookie", cookies_.header_for(address.host, path_of(address.target), address.tls));
    head += "\r\n";
    return head;
}

void HttpClient::send_body(BodySource& body, std::uint64_t size) {
    std::vector<char> block(kSendBlockBytes);
    std::uint64_t sent = 0;
    while (sent < size) {
        std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - sent));
        std::size_t got = body.read(block.data(), want);
        if (got == 0) throw Error("Request body ended after " + std::to_string(sent) + " of " +
                                               std::to_string(size) + " bytes");
        transport_.write(std::string_view(block.data(), got), options_.send_timeout);
        sent += got;
    }
}

}  // namespace ringolan::upload
