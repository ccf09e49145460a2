#include "site/pg_copy.h"

#include "site/pg_conn.h"

namespace ringolan::site::pg {

CopyWriter::CopyWriter(PGconn* c, const std::string& copy_sql) : c_(c) {
    PGresult* r = PQexec(c, copy_sql.c_str());
    const bool ok = PQresultStatus(r) == PGRES_COPY_IN;
    PQclear(r);
    if (!ok) {
        open_ = false;
        throw StoreError(error_text(c, ""));
    }
    sender_ = std::thread([this] { send_all(); });
}

CopyWriter::~CopyWriter() { stop_sending(false); }

void CopyWriter::send_all() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return !queue_.empty() || closing_; });
        if (queue_.empty() || (closing_ && !drain_)) return;
        std::string piece = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        const bool sent = PQputCopyData(c_, piece.data(), int(piece.size())) == 1;
        lock.lock();
        piece.clear();
        spare_.push_back(std::move(piece));
        if (!sent) {
            sending_failed_ = true;
            send_error_ = error_text(c_, "copy: ");
            queue_.clear();
        }
        changed_.notify_all();
        if (!sent) return;
    }
}

void CopyWriter::flush() {
    if (buffer_.empty()) return;
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return queue_.size() < kQueued || sending_failed_; });
    if (sending_failed_) throw StoreError(send_error_);
    queue_.push_back(std::move(buffer_));
    buffer_.clear();
    if (!spare_.empty()) {
        buffer_ = std::move(spare_.back());
        spare_.pop_back();
    }
    changed_.notify_all();
}

void CopyWriter::stop_sending(bool drain) noexcept {
    if (!sender_.joinable()) return;
    {
        std::lock_guard lock(mutex_);
        closing_ = true;
        drain_ = drain;
    }
    changed_.notify_all();
    sender_.join();
}

void CopyWriter::finish() {
    flush();
    stop_sending(true);
    open_ = false;
    if (sending_failed_) {
        PQputCopyEnd(c_, "not all rows could be sent");
        while (PGresult* r = PQgetResult(c_)) PQclear(r);
        throw StoreError(send_error_);
    }
    if (PQputCopyEnd(c_, nullptr) != 1) throw StoreError(error_text(c_, "copy: "));
    std::string error;  // the server's refusal, if any
    while (PGresult* r = PQgetResult(c_)) {
        if (PQresultStatus(r) != PGRES_COMMAND_OK && error.empty()) error = error_text(c_, "copy: ");
        PQclear(r);
    }
    if (!error.empty()) throw StoreError(error);
}

void CopyWriter::abort(const char* reason) noexcept {
    stop_sending(false);
    if (!open_) return;
    open_ = false;
    PQputCopyEnd(c_, reason);
    while (PGresult* r = PQgetResult(c_)) PQclear(r);
}

}  // namespace ringolan::site::pg
