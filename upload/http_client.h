// The HTTP client of the upload (IdHTTP1): GET as HTTP/1.1 and POST as HTTP/1.0 with a fixed
// header order, at most one kept connection, cookies per host, redirects not followed and every
// status outside 200 to 299 raised as an error whose text is the status line.
//
// Two request fields carry over once set, as the publishing site has always seen them: after the
// first POST every request says "Connection: keep-alive", and the content type set for a POST is
// sent with every later request, GETs included.
//
// One request at a time, from one thread; only cancel may come from another.
#pragma once

#include <chrono>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/error.h"
#include "upload/body_source.h"
#include "upload/http_address.h"
#include "upload/http_cookies.h"
#include "upload/http_limits.h"
#include "upload/http_reply.h"
#include "upload/http_transport.h"

namespace ringolan::upload {

inline constexpr std::string_view kRequestAccept = "text/html, */*";
inline constexpr std::string_view kRequestUserAgent = "Mozilla/3.0 (compatible; Indy Library)";

// A reply whose status is outside 200 to 299 or that redirects. what() is the status line.
class HttpStatusError : public Error {
public:
    HttpStatusError(int status, const std::string& status_line, std::string body)
        : Error(status_line), status_(status), body_(std::move(body)) {}
    int status() const { return status_; }
    // The reply body as far as it came within the error read limit; not meant to be shown.
    const std::string& body() const { return body_; }

private:
    int status_;
    std::string body_;
};

struct ClientOptions {
    std::chrono::milliseconds connect_timeout = kConnectTimeout;
    std::chrono::milliseconds read_timeout = kReadTimeout;
    std::chrono::milliseconds reply_timeout = kReplyTimeout;
    std::chrono::milliseconds send_timeout = kSendTimeout;
    std::chrono::milliseconds error_body_timeout = kErrorBodyReadTimeout;
    TlsSettings tls;
};

class HttpClient {
public:
    // Receives the reply body of a successful POST in pieces.
    using ReplySink = std::function<void(std::string_view)>;

    explicit HttpClient(ClientOptions options = {});

    // Sends a GET and returns the reply body (empty when there is none).
    // Throws HttpStatusError, TransportError, ReplyFormatError or AddressError.
    std::string get(std::string_view address);

    // Sends the body from its first byte as a POST over a new connection; the reply body goes
    // to sink (discarded when sink is empty). Throws as get does.
    void post(std::string_view address, BodySource& body, const ReplySink& sink = {});

    // The request content type, sent from now on with every request ("" sends none).
    // Throws std::invalid_argument for a value with a line break or other control byte.
    void set_content_type(std::string content_type);
    const std::string& content_type() const { return content_type_; }

    // May be called from any thread: the request in progress ends with CancelledError, and so
    // does every later one until resume is called.
    void cancel() { transport_.cancel(); }
    void resume() { transport_.resume(); }

    bool has_connection() const { return transport_.is_open(); }
    void disconnect() { transport_.close(); }
    CookieJar& cookies() { return cookies_; }

private:
    void send(std::string_view method, const Address& address, BodySource* body, const ReplySink& sink);
    bool exchange(std::string_view method, const Address& address, BodySource* body, bool reused,
                  const ReplySink& sink);
    std::string request_head(std::string_view method, const Address& address, const BodySource* body,
                             std::uint64_t body_size) const;
    void send_body(BodySource& body, std::uint64_t size);

    ClientOptions options_;
    Transport transport_;
    Address connected_;  // where the open connection leads
    CookieJar cookies_;
    std::string content_type_;
    bool keep_alive_header_ = false;
};

}  // namespace ringolan::upload
