// Feeds rows to a running "COPY ... FROM STDIN" (text format) in large pieces. The pieces are
// sent on a thread of their own, so that the rows of the next piece are made while the server
// takes in the last (before, the two took turns: each waited while the other worked).
#pragma once

#include <libpq-fe.h>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ringolan::site::pg {

class CopyWriter {
public:
    // Starts the COPY; throws StoreError when the server refuses it. The connection is the
    // writer's until finish or abort.
    CopyWriter(PGconn* c, const std::string& copy_sql);
    ~CopyWriter();
    CopyWriter(const CopyWriter&) = delete;
    CopyWriter& operator=(const CopyWriter&) = delete;

    std::string& buffer() { return buffer_; }  // append whole lines, then call maybe_flush
    void maybe_flush() {
        if (buffer_.size() >= kPiece) flush();
    }
    void finish();                            // ends the COPY; throws StoreError when it failed
    void abort(const char* reason) noexcept;  // ends the COPY as failed

private:
    static constexpr std::size_t kPiece = 1 << 18;
    static constexpr std::size_t kQueued = 4;  // pieces made ahead of the sending at most
    void flush();
    void send_all();
    void stop_sending(bool drain) noexcept;

    PGconn* c_;
    std::string buffer_;
    bool open_ = true;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> queue_;
    std::vector<std::string> spare_;  // sent pieces, their memory kept for the next
    bool closing_ = false, drain_ = true, sending_failed_ = false;
    std::string send_error_;
    std::thread sender_;
};

}  // namespace ringolan::site::pg
