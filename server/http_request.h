// Incremental HTTP request parser: bytes in (in any split), request record out. No sockets.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/limits.h"

namespace ringolan::server {

struct Authorization {
    bool present = false;  // a "Basic" Authorization header was sent
    std::string user;
    std::string password;
    bool operator==(const Authorization&) const = default;
};

struct Request {
    std::string command;        // method, upper-cased
    std::string document_path;  // target before "?", decoded; path part of an absolute target
    std::string query;          // raw text after the first "?"
    std::string version;        // text after the last blank of the request line
    std::string request_line;   // without its line end
    std::string remote_address; // filled by the socket layer
    std::vector<std::string> headers;  // header lines as received, without line ends
    std::string content_type;
    int64_t content_length = -1;  // -1: absent or not a number
    std::string connection;
    std::string host;
    std::string body;
    Authorization authorization;

    // Value of the first header line with this name (letter case ignored), blanks trimmed.
    std::optional<std::string> header(std::string_view name) const;
    bool operator==(const Request&) const = default;
};

enum class ParseStatus {
    need_more,       // the request is not complete yet
    complete,        // request() holds the request; further bytes are ignored
    reject,          // close without an answer; reason() says why
    body_too_large,  // the body exceeds the parser's body cap (kMaxBodyBytes by default)
};

class RequestParser {
public:
    explicit RequestParser(std::size_t max_body_bytes = kMaxBodyBytes) : max_body_bytes_(max_body_bytes) {}

    // Takes the next bytes of the connection. Once the status is no longer need_more it
    // stays as it is and further bytes are ignored.
    ParseStatus feed(std::string_view bytes);
    // The client closed its side: completes a body read until close, rejects anything unfinished.
    ParseStatus end_of_input();

    ParseStatus status() const { return status_; }
    const std::string& reason() const { return reason_; }
    const Request& request() const { return request_; }
    Request take_request() { return std::move(request_); }

private:
    enum class Stage { request_line, headers, body_counted, body_until_close, done };

    ParseStatus fail(ParseStatus status, std::string reason);
    ParseStatus take_line(std::string line);
    ParseStatus on_request_line(std::string line);
    ParseStatus on_headers_end();
    ParseStatus finish();

    Stage stage_ = Stage::request_line;
    ParseStatus status_ = ParseStatus::need_more;
    std::string reason_;
    std::string line_;       // bytes of the line being read
    std::string target_;     // raw request target
    uint64_t body_left_ = 0; // bytes still due for a counted body
    std::size_t max_body_bytes_;
    Request request_;
};

// A Content-Length value: decimal digits with optional sign and surrounding blanks;
// nothing for anything else, including values that do not fit.
std::optional<int64_t> parse_content_length(std::string_view value);

// Base64 decoding that skips characters outside the alphabet and stops at "=".
std::string decode_base64(std::string_view text);

}  // namespace ringolan::server
