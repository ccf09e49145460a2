// Reading a reply of the publishing site from bytes, free of sockets: fed in any split, it
// yields the status line, the headers (folded lines joined) and the body, framed by
// Content-Length, chunked transfer coding or the end of the connection.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"

namespace ringolan::upload {

struct ReplyFormatError : public Error {
    using Error::Error;
};

struct ReplyHead {
    std::string status_line;  // without its line end
    int status = -1;          // the number after the first blank; -1 when there is none
    std::vector<std::pair<std::string, std::string>> headers;  // in order, values trimmed

    // The first value of a header (name in any letter case), or nullopt.
    std::optional<std::string> find(std::string_view name) const;
    // Every value of a header, in order.
    std::vector<std::string> all(std::string_view name) const;
};

// The status code of a status line: the text after the first blank up to the next blank, read as
// a whole number; -1 when it is not one.
int status_code_of(std::string_view status_line);

class ReplyParser {
public:
    // Feeds the next bytes. Returns how many were taken: fewer than given only when the reply
    // ended inside them (the rest belongs to no reply). Throws ReplyFormatError for a reply
    // that cannot be read (an overlong line, a bad length or chunk size).
    std::size_t feed(std::string_view bytes);
    // The peer closed the connection: completes a body that runs to the end of the connection.
    // Throws ReplyFormatError when the reply is incomplete otherwise.
    void finish();

    bool done() const { return state_ == State::Done; }
    bool head_complete() const;  // the final (non-interim) head has been read
    bool started() const { return seen_bytes_; }  // any byte has been fed
    // True when the body runs until the connection ends (no length and no chunked coding).
    bool until_close() const { return state_ == State::UntilClose || until_close_done_; }
    const ReplyHead& head() const { return head_; }

    // Takes the body bytes read so far; later bytes collect anew.
    std::string take_body() { return std::exchange(body_, {}); }

private:
    enum class State { StatusLine, Headers, Length, ChunkSize, ChunkData, ChunkEnd, Trailers, UntilClose, Done };

    bool take_line(std::string_view bytes, std::size_t& pos, std::string& line);
    void on_status_line(std::string line);
    void on_header_line(const std::string& line);
    void start_body();
    void on_chunk_size(const std::string& line);

    State state_ = State::StatusLine;
    ReplyHead head_;
    std::string line_;
    std::string body_;
    unsigned long long remaining_ = 0;
    std::size_t header_lines_ = 0;
    std::size_t interim_heads_ = 0;
    bool seen_bytes_ = false;
    bool until_close_done_ = false;
};

}  // namespace ringolan::upload
