#include "upload/piece_deflate.h"

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>
#include <stdexcept>

#include "common/error.h"

namespace ringolan::upload {
namespace {

constexpr int kLevel = 6;
constexpr int kRawDeflate = -15;  // window bits: 32 KiB window, no zlib wrapper
constexpr int kMemLevel = 8;      // zlib's default
// An empty stored block after the header bits: the bytes a sync flush ends with.
constexpr unsigned char kSyncMarker[] = {0x00, 0x00, 0xFF, 0xFF};

// A buffer from spare (empty, its room kept) or a new one: fresh memory costs page faults.
std::string reuse(std::vector<std::string>& spare) {
    if (spare.empty()) return {};
    std::string s = std::move(spare.back());
    spare.pop_back();
    s.clear();
    return s;
}

// One zlib deflate call over all of input, ended: the bytes of a table of at most one piece.
void deflate_whole(const std::string& input, std::string& output) {
    z_stream zs{};
    if (deflateInit2(&zs, kLevel, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
        throw Error("gzip: zlib cannot start deflate");
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    zs.avail_in = static_cast<uInt>(input.size());
    output.resize(deflateBound(&zs, input.size()) + 16);
    zs.next_out = reinterpret_cast<Bytef*>(output.data());
    zs.avail_out = static_cast<uInt>(output.size());
    const int rc = ::deflate(&zs, Z_FINISH);
    output.resize(output.size() - zs.avail_out);
    deflateEnd(&zs);
    if (rc != Z_STREAM_END) throw Error("gzip: zlib deflate failed");
}

}  // namespace

struct PieceDeflater::Job {
    std::string input;
    bool last = false;
    std::string output;
    uint32_t crc = 0;
    bool done = false;
    std::exception_ptr error;
};

// Deflates pieces with libdeflate (several times faster than zlib at the same level, and no
// larger). Its output is always a whole stream; for a piece that is not the last, an inflate
// pass finds the final block, whose last-block bit is cleared, and the piece is ended like a
// sync flush so that the next piece starts on a byte boundary.
struct PieceDeflater::Worker {
    libdeflate_compressor* compressor = nullptr;
    z_stream check{};
    std::string inflated;

    Worker() {
        compressor = libdeflate_alloc_compressor(kLevel);
        if (!compressor) throw Error("gzip: cannot start deflate");
        if (inflateInit2(&check, kRawDeflate) != Z_OK) {
            libdeflate_free_compressor(compressor);
            throw Error("gzip: zlib cannot start inflate");
        }
    }
    ~Worker() {
        inflateEnd(&check);
        libdeflate_free_compressor(compressor);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void run(Job& job) {
        const std::string& in = job.input;
        job.crc = static_cast<uint32_t>(crc32_z(0, reinterpret_cast<const Bytef*>(in.data()), in.size()));
        job.output.resize(libdeflate_deflate_compress_bound(compressor, in.size()) + sizeof kSyncMarker + 1);
        const size_t size =
            libdeflate_deflate_compress(compressor, in.data(), in.size(), job.output.data(), job.output.size());
        if (size == 0) throw Error("gzip: deflate failed");
        job.output.resize(size);
        if (!job.last) continue_stream(job);
    }

    // Finds the bit where the final block starts and the bit where the stream ends, checking on
    // the way that the piece inflates to its input.
    void continue_stream(Job& job) {
        if (inflateReset(&check) != Z_OK) throw Error("gzip: zlib inflate failed");
        inflated.resize(job.input.size() + 1);
        check.next_in = reinterpret_cast<Bytef*>(job.output.data());
        check.avail_in = static_cast<uInt>(job.output.size());
        check.next_out = reinterpret_cast<Bytef*>(inflated.data());
        check.avail_out = static_cast<uInt>(inflated.size());
        uint64_t final_block = 0;  // the first block starts at bit 0
        std::optional<uint64_t> end;
        int rc = Z_OK;
        while (rc == Z_OK) {
            rc = inflate(&check, Z_BLOCK);
            if (rc != Z_OK || !(check.data_type & 128)) continue;
            // After a block: the bits taken so far, less those left in the last byte. After the
            // final block (64) that is the end of the stream, else where the next block starts.
            const uint64_t bit = uint64_t(check.total_in) * 8 - (check.data_type & 63);
            if (check.data_type & 64) end = bit;
            else final_block = bit;
        }
        const size_t out = inflated.size() - check.avail_out;
        if (rc != Z_STREAM_END || check.avail_in != 0 || out != job.input.size() || !end ||
            std::memcmp(inflated.data(), job.input.data(), out) != 0)
            throw Error("gzip: a deflated piece does not give back its input");
        if ((*end + 7) / 8 != job.output.size()) throw Error("gzip: a deflated piece ends unexpectedly");
        job.output[final_block / 8] = char(job.output[final_block / 8] & ~(1 << (final_block % 8)));
        // An empty stored block: three zero header bits (in the last byte's padding when they fit),
        // padding to the byte, then its length and the length's complement.
        const unsigned used = unsigned(*end % 8);
        if (used != 0) job.output.back() = char(job.output.back() & ((1 << used) - 1));
        if (used == 0 || used > 5) job.output.push_back('\0');
        job.output.append(reinterpret_cast<const char*>(kSyncMarker), sizeof kSyncMarker);
    }
};

PieceDeflater::PieceDeflater(Sink sink, size_t piece, unsigned workers)
    : sink_(std::move(sink)), piece_(std::max<size_t>(piece, 1)) {
    worker_count_ = workers ? workers : std::max(1u, std::thread::hardware_concurrency());
    pending_.reserve(piece_);
}

PieceDeflater::~PieceDeflater() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    work_ready_.notify_all();
    for (std::thread& t : threads_) t.join();
}

void PieceDeflater::write(const char* data, size_t size) {
    if (finished_) throw std::logic_error("deflate: write after finish");
    while (size > 0) {
        if (pending_.size() == piece_) submit(false);  // a full piece waits until more follows
        const size_t take = std::min(size, piece_ - pending_.size());
        pending_.append(data, take);
        data += take;
        size -= take;
    }
}

void PieceDeflater::finish() {
    if (finished_) throw std::logic_error("deflate: finished twice");
    finished_ = true;
    submit(true);
    drain(0);
}

void PieceDeflater::submit(bool last) {
    const size_t limit = 2 * size_t(worker_count_);
    drain(limit - 1);
    auto job = std::make_shared<Job>();
    job->input = std::move(pending_);
    job->last = last;
    job->output = reuse(spare_outputs_);
    pending_ = reuse(spare_inputs_);
    if (!last) pending_.reserve(piece_);

    if (last && threads_.empty()) {  // the only piece: no threads needed
        deflate_whole(job->input, job->output);
        const auto* in = reinterpret_cast<const Bytef*>(job->input.data());
        job->crc = static_cast<uint32_t>(crc32_z(0, in, job->input.size()));
        job->done = true;
        std::lock_guard lock(mutex_);
        in_order_.push_back(std::move(job));
        return;
    }
    start_workers();
    {
        std::lock_guard lock(mutex_);
        in_order_.push_back(job);
        waiting_.push_back(std::move(job));
    }
    work_ready_.notify_one();
}

void PieceDeflater::drain(size_t keep) {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            if (in_order_.empty()) return;
            if (in_order_.size() > keep) job_done_.wait(lock, [&] { return in_order_.front()->done; });
            else if (!in_order_.front()->done) return;
            job = std::move(in_order_.front());
            in_order_.pop_front();
        }
        if (job->error) std::rethrow_exception(job->error);
        input_bytes_ += job->input.size();
        crc_ = static_cast<uint32_t>(crc32_combine(crc_, job->crc, static_cast<z_off_t>(job->input.size())));
        sink_(job->output.data(), job->output.size());
        if (spare_inputs_.size() <= worker_count_ * 2) {
            spare_inputs_.push_back(std::move(job->input));
            spare_outputs_.push_back(std::move(job->output));
        }
    }
}

void PieceDeflater::start_workers() {
    if (!threads_.empty()) return;
    std::vector<std::unique_ptr<Worker>> workers;
    for (unsigned i = 0; i < worker_count_; ++i) workers.push_back(std::make_unique<Worker>());
    for (auto& w : workers)
        threads_.emplace_back([this, worker = std::shared_ptr<Worker>(std::move(w))] { work(*worker); });
}

void PieceDeflater::work(Worker& worker) {
    for (;;) {
        std::shared_ptr<Job> job;
        {
            std::unique_lock lock(mutex_);
            work_ready_.wait(lock, [&] { return stopping_ || !waiting_.empty(); });
            if (stopping_) return;
            job = std::move(waiting_.front());
            waiting_.pop_front();
        }
        try {
            worker.run(*job);
        } catch (...) {
            job->error = std::current_exception();
        }
        {
            std::lock_guard lock(mutex_);
            job->done = true;
        }
        job_done_.notify_all();
    }
}

}  // namespace ringolan::upload
