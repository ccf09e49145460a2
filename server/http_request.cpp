#include "server/http_request.h"

#include "common/ascii.h"
#include "common/number.h"
#include "server/limits.h"
#include "server/request_target.h"

#include <algorithm>
#include <limits>

namespace ringolan::server {

namespace {

char upper(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

using text::equal_ignoring_case;
using text::trim;

bool is_scheme_char(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '-' || c == '.';
}

// "scheme://host/path?query": sets host and the part from the path on (may be empty).
bool split_absolute(std::string_view target, std::string& host, std::string_view& rest) {
    const size_t sep = target.find("://");
    if (sep == std::string_view::npos || sep == 0) return false;
    const char first = upper(target[0]);
    if (first < 'A' || first > 'Z') return false;
    if (!std::all_of(target.begin(), target.begin() + sep, is_scheme_char)) return false;
    const std::string_view after = target.substr(sep + 3);
    const size_t end = after.find_first_of("/?");
    host = std::string(after.substr(0, end));
    rest = end == std::string_view::npos ? std::string_view{} : after.substr(end);
    return true;
}

int base64_value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

}  // namespace

std::optional<std::string> Request::header(std::string_view name) const {
    for (const std::string& line : headers) {
        const size_t colon = line.find(':');
        if (colon == std::string::npos) continue;
        if (equal_ignoring_case(trim(std::string_view(line).substr(0, colon)), name))
            return std::string(trim(std::string_view(line).substr(colon + 1)));
    }
    return std::nullopt;
}

std::optional<int64_t> parse_content_length(std::string_view value) {
    return text::parse_whole_number(trim(value));
}

std::string decode_base64(std::string_view text) {
    std::string out;
    uint32_t bits = 0;
    int count = 0;
    for (char c : text) {
        if (c == '=') break;
        const int v = base64_value(c);
        if (v < 0) continue;
        bits = (bits << 6) | uint32_t(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += char((bits >> count) & 0xFF);
        }
    }
    return out;
}

ParseStatus RequestParser::fail(ParseStatus status, std::string reason) {
    status_ = status;
    reason_ = std::move(reason);
    stage_ = Stage::done;
    return status_;
}

ParseStatus RequestParser::finish() {
    status_ = ParseStatus::complete;
    stage_ = Stage::done;
    return status_;
}

ParseStatus RequestParser::feed(std::string_view bytes) {
    while (status_ == ParseStatus::need_more && !bytes.empty()) {
        switch (stage_) {
        case Stage::request_line:
        case Stage::headers: {
            const size_t lf = bytes.find('\n');
            if (lf == std::string_view::npos) {
                line_.append(bytes);
                bytes = {};
                // One byte more than the limit may still be the CR of the line end.
                if (line_.size() > kMaxLineLength + 1 ||
                    (line_.size() == kMaxLineLength + 1 && line_.back() != '\r'))
                    return fail(ParseStatus::reject, "Max line length exceeded.");
                break;
            }
            line_.append(bytes.substr(0, lf));
            bytes.remove_prefix(lf + 1);
            std::string line = std::move(line_);
            line_.clear();
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > kMaxLineLength)
                return fail(ParseStatus::reject, "Max line length exceeded.");
            take_line(std::move(line));
            break;
        }
        case Stage::body_counted: {
            const size_t n = size_t(std::min<uint64_t>(body_left_, bytes.size()));
            request_.body.append(bytes.substr(0, n));
            bytes.remove_prefix(n);
            body_left_ -= n;
            if (body_left_ == 0) finish();
            break;
        }
        case Stage::body_until_close:
            if (request_.body.size() + bytes.size() > max_body_bytes_)
                return fail(ParseStatus::body_too_large, "Request body too large.");
            request_.body.append(bytes);
            bytes = {};
            break;
        case Stage::done:
            break;
        }
    }
    return status_;
}

ParseStatus RequestParser::end_of_input() {
    if (status_ != ParseStatus::need_more) return status_;
    if (stage_ == Stage::body_until_close) return finish();
    return fail(ParseStatus::reject, "Connection closed before the request was complete.");
}

ParseStatus RequestParser::take_line(std::string line) {
    if (stage_ == Stage::request_line) return on_request_line(std::move(line));
    if (line.empty()) return on_headers_end();
    if (request_.headers.size() >= kMaxHeaderLines)
        return fail(ParseStatus::reject, "Too many header lines.");
    request_.headers.push_back(std::move(line));
    return status_;
}

ParseStatus RequestParser::on_request_line(std::string line) {
    const size_t last = line.rfind(' ');
    if (last == std::string::npos) return fail(ParseStatus::reject, "Error in parsing command.");
    request_.version = line.substr(last + 1);
    const std::string_view rest = std::string_view(line).substr(0, last);
    const size_t first = rest.find(' ');
    request_.command = std::string(rest.substr(0, first));
    for (char& c : request_.command) c = upper(c);
    if (first != std::string_view::npos) target_ = std::string(rest.substr(first + 1));
    request_.request_line = std::move(line);
    const std::string& cmd = request_.command;
    if (cmd != "GET" && cmd != "POST" && cmd != "HEAD")
        return fail(ParseStatus::reject, "Unsupported command.");
    stage_ = Stage::headers;
    return status_;
}

ParseStatus RequestParser::on_headers_end() {
    Request& r = request_;
    r.content_type = r.header("Content-Type").value_or("");
    r.connection = r.header("Connection").value_or("");
    const std::optional<std::string> host = r.header("Host");
    r.host = host.value_or("");
    const std::optional<std::string> length_text = r.header("Content-Length");
    const std::optional<int64_t> length =
        length_text ? parse_content_length(*length_text) : std::nullopt;
    r.content_length = length.value_or(-1);

    const std::string auth = r.header("Authorization").value_or("");
    if (!auth.empty()) {
        const size_t blank = auth.find(' ');
        if (!equal_ignoring_case(std::string_view(auth).substr(0, blank), "Basic"))
            return fail(ParseStatus::reject, "Unsupported authorization scheme.");
        const std::string plain =
            blank == std::string::npos ? std::string() : decode_base64(auth.substr(blank + 1));
        const size_t colon = plain.find(':');
        r.authorization.present = true;
        r.authorization.user = plain.substr(0, colon);
        if (colon != std::string::npos) r.authorization.password = plain.substr(colon + 1);
    }

    std::string absolute_host;
    std::string_view path_part;
    if (split_absolute(target_, absolute_host, path_part)) {
        std::string path(path_part.empty() || path_part[0] != '/' ? "/" : "");
        path += path_part;
        RequestTarget t = split_target(path);
        r.document_path = std::move(t.document_path);
        r.query = std::move(t.query);
        if (!host) r.host = std::move(absolute_host);
    } else {
        RequestTarget t = split_target(target_);
        r.document_path = std::move(t.document_path);
        r.query = std::move(t.query);
    }

    if (r.content_length > 0) {
        if (uint64_t(r.content_length) > max_body_bytes_)
            return fail(ParseStatus::body_too_large, "Request body too large.");
        body_left_ = uint64_t(r.content_length);
        stage_ = Stage::body_counted;
        return status_;
    }
    if (r.command == "POST" && !length) {
        stage_ = Stage::body_until_close;
        return status_;
    }
    return finish();
}

}  // namespace ringolan::server
