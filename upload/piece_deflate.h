// Raw deflate (level 6) of a byte stream in pieces deflated side by side on worker threads.
// Every piece but the last ends with an empty stored block, as after a sync flush, and none but
// the last has its final-block bit set, so the pieces joined in order are one valid raw deflate
// stream. Input of at most one piece gives the same bytes as one zlib deflate call over all of it;
// longer input is deflated with libdeflate. The CRC-32 of the whole input is combined from the
// pieces'.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace ringolan::upload {

inline constexpr size_t kDeflatePiece = 1024 * 1024;

class PieceDeflater {
public:
    // Receives the deflated bytes in stream order, on the thread that calls write or finish.
    using Sink = std::function<void(const char* data, size_t size)>;

    // piece: input bytes per piece (at least 1); workers: threads to deflate on, 0 for the
    // machine's cores. The workers start with the second piece; one piece is deflated in place.
    explicit PieceDeflater(Sink sink, size_t piece = kDeflatePiece, unsigned workers = 0);
    ~PieceDeflater();
    PieceDeflater(const PieceDeflater&) = delete;
    PieceDeflater& operator=(const PieceDeflater&) = delete;

    // Throws std::runtime_error when deflating fails and passes on what the sink throws.
    void write(const char* data, size_t size);
    // Deflates the rest and ends the stream; nothing may be written after.
    void finish();

    uint64_t input_bytes() const { return input_bytes_; }
    uint32_t crc32() const { return crc_; }

private:
    struct Job;
    struct Worker;
    // Hands the pending bytes to the workers as a piece (the last when last is set).
    void submit(bool last);
    // Passes the pieces at the head of the queue to the sink in order: waits for them while more
    // than keep are queued, then passes those already done.
    void drain(size_t keep);
    void start_workers();
    void work(Worker& worker);

    Sink sink_;
    size_t piece_;
    unsigned worker_count_;
    std::string pending_;
    std::vector<std::string> spare_inputs_, spare_outputs_;  // buffers of passed pieces, kept for reuse
    uint64_t input_bytes_ = 0;
    uint32_t crc_ = 0;
    bool finished_ = false;

    std::mutex mutex_;
    std::condition_variable work_ready_, job_done_;
    std::deque<std::shared_ptr<Job>> in_order_;  // submitted, not yet passed to the sink
    std::deque<std::shared_ptr<Job>> waiting_;   // not yet taken by a worker
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

}  // namespace ringolan::upload
