#include "upload/http_reply.h"

#include "common/ascii.h"
#include "common/number.h"
#include "upload/http_limits.h"

namespace ringolan::upload {

namespace {

bool interim(int status) { return status >= 100 && status < 200 && status != 101; }

std::string shown(std::string_view line) {
    constexpr std::size_t kShown = 80;
    return line.size() > kShown ? std::string(line.substr(0, kShown)) + "..." : std::string(line);
}

}  // namespace

std::optional<std::string> ReplyHead::find(std::string_view name) const {
    std::string wanted = text::ascii_lower(name);
    for (const auto& [key, value] : headers)
        if (text::ascii_lower(key) == wanted) return value;
    return std::nullopt;
}

std::vector<std::string> ReplyHead::all(std::string_view name) const {
    std::string wanted = text::ascii_lower(name);
    std::vector<std::string> out;
    for (const auto& [key, value] : headers)
        if (text::ascii_lower(key) == wanted) out.push_back(value);
    return out;
}

int status_code_of(std::string_view status_line) {
    auto blank = status_line.find(' ');
    if (blank == std::string_view::npos) return -1;
    std::string_view code = status_line.substr(blank + 1);
    code = code.substr(0, code.find(' '));
    return text::parse_number<int>(code).value_or(-1);
}

bool ReplyParser::head_complete() const {
    return state_ != State::StatusLine && state_ != State::Headers;
}

std::size_t ReplyParser::feed(std::string_view bytes) {
    if (!bytes.empty()) seen_bytes_ = true;
    std::size_t pos = 0;
    std::string line;
    while (pos < bytes.size() && state_ != State::Done) {
        switch (state_) {
        case State::StatusLine:
            if (!take_line(bytes, pos, line)) return pos;
            if (!line.empty()) on_status_line(std::move(line));  // stray line ends before a reply are skipped
            break;
        case State::Headers:
            if (!take_line(bytes, pos, line)) return pos;
            on_header_line(line);
            break;
        case State::ChunkSize:
            if (!take_line(bytes, pos, line)) return pos;
            on_chunk_size(line);
            break;
        case State::ChunkEnd:
            if (!take_line(bytes, pos, line)) return pos;
            if (!line.empty()) throw ReplyFormatError("Chunk not followed by a line end: " + shown(line));
            state_ = State::ChunkSize;
            break;
        case State::Trailers:
            if (!take_line(bytes, pos, line)) return pos;
            if (line.empty()) state_ = State::Done;
            else if (++header_lines_ > kMaxReplyHeaderLines) throw ReplyFormatError("Too many trailer lines in reply");
            break;
        case State::Length:
        case State::ChunkData: {
            std::size_t n = static_cast<std::size_t>(std::min<unsigned long long>(remaining_, bytes.size() - pos));
            body_.append(bytes.substr(pos, n));
            pos += n;
            remaining_ -= n;
            if (remaining_ == 0) state_ = state_ == State::Length ? State::Done : State::ChunkEnd;
            break;
        }
        case State::UntilClose:
            body_.append(bytes.substr(pos));
            pos = bytes.size();
            break;
        case State::Done:
            break;
        }
    }
    return pos;
}

void ReplyParser::finish() {
    if (state_ == State::UntilClose) {
        until_close_done_ = true;
        state_ = State::Done;
    } else if (state_ != State::Done) {
        throw ReplyFormatError(seen_bytes_ ? "Connection closed before the reply was complete"
                                           : "Connection closed without a reply");
    }
}

bool ReplyParser::take_line(std::string_view bytes, std::size_t& pos, std::string& line) {
    auto nl = bytes.find('\n', pos);
    std::size_t end = nl == std::string_view::npos ? bytes.size() : nl;
    line_.append(bytes.substr(pos, end - pos));
    pos = nl == std::string_view::npos ? bytes.size() : nl + 1;
    if (line_.size() > kMaxReplyLineLength + 1) throw ReplyFormatError("Reply line too long");
    if (nl == std::string_view::npos) return false;
    if (!line_.empty() && line_.back() == '\r') line_.pop_back();
    if (line_.size() > kMaxReplyLineLength) throw ReplyFormatError("Reply line too long");
    line = std::exchange(line_, {});
    return true;
}

void ReplyParser::on_status_line(std::string line) {
    head_.status = status_code_of(line);
    head_.status_line = std::move(line);
    head_.headers.clear();
    state_ = State::Headers;
}

void ReplyParser::on_header_line(const std::string& line) {
    if (line.empty()) {
        if (!interim(head_.status)) start_body();
        else if (++interim_heads_ > kMaxInterimReplies) throw ReplyFormatError("Too many interim replies");
        else state_ = State::StatusLine;
        return;
    }
    if (++header_lines_ > kMaxReplyHeaderLines) throw ReplyFormatError("Too many header lines in reply");
    if (line.front() == ' ' || line.front() == '\t') {
        if (!head_.headers.empty()) {
            std::string& value = head_.headers.back().second;
            std::string_view more = text::trim(line);
            if (!value.empty() && !more.empty()) value += ' ';
            value += more;
        }
        return;
    }
    auto colon = line.find(':');
    if (colon == std::string::npos) return;  // not a header; ignored
    head_.headers.emplace_back(std::string(text::trim(std::string_view(line).substr(0, colon))),
                               std::string(text::trim(std::string_view(line).substr(colon + 1))));
}

void ReplyParser::start_body() {
    if (head_.status == 204 || head_.status == 304) {
        state_ = State::Done;
        return;
    }
    std::optional<unsigned long long> length;
    for (const std::string& value : head_.all("Content-Length")) {
        auto parsed = text::parse_number<unsigned long long>(text::trim(value));
        if (!parsed) throw ReplyFormatError("Invalid Content-Length in reply: " + shown(value));
        if (length && *length != *parsed) throw ReplyFormatError("Conflicting Content-Length headers in reply");
        length = parsed;
    }
    bool chunked = false;
    for (const std::string& value : head_.all("Transfer-Encoding"))
        if (text::ascii_lower(value).find("chunked") != std::string::npos) chunked = true;

    if (length && *length > 0) {
        remaining_ = *length;
        state_ = State::Length;
    } else if (chunked) {
        state_ = State::ChunkSize;
    } else if (!length) {
        state_ = State::UntilClose;
    } else {
        state_ = State::Done;
    }
}

void ReplyParser::on_chunk_size(const std::string& line) {
    std::string_view digits = text::trim(std::string_view(line).substr(0, line.find(';')));
    const std::optional<unsigned long long> parsed = text::parse_number<unsigned long long>(digits, 16);
    if (!parsed || *parsed > (1ull << 48)) throw ReplyFormatError("Invalid chunk size in reply: " + shown(line));
    const unsigned long long size = *parsed;
    if (size == 0) {
        header_lines_ = 0;
        state_ = State::Trailers;
    } else {
        remaining_ = size;
        state_ = State::ChunkData;
    }
}

}  // namespace ringolan::upload
