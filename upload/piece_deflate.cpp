#include "upload/piece_deflate.h"

#include <zlib.h>

#include <algorithm>
#include <stdexcept>

#include "common/error.h"

namespace ringolan::upload {
namespace {

constexpr size_t kWindow = 32 * 1024;
constexpr int kLevel = 6;
constexpr int kRawDeflate = -15;  // window bits: 32 KiB window, no zlib wrapper
constexpr int kMemLevel = 8;      // zlib's default

// A buffer from spare (empty, its room kept) or a new one: fresh memory costs page faults.
std::string reuse(std::vector<std::string>& spare) {
    if (spare.empty()) return {};
    std::string s = std::move(spare.back());
    spare.pop_back();
    s.clear();
    return s;
}

}  // namespace

struct PieceDeflater::Job {
    std::string input;
    std::string dictionary;
    bool last = false;
    std::string output;
    uint32_t crc = 0;
    bool done = false;
    std::exception_ptr error;
};

// One zlib stream, reset for every piece it deflates.
struct PieceDeflater::Worker {
    z_stream zs{};

    Worker() {
        if (deflateInit2(&zs, kLevel, Z_DEFLATED, kRawDeflate, kMemLevel, Z_DEFAULT_STRATEGY) != Z_OK)
            throw Error("gzip: zlib cannot start deflate");
    }
    ~Worker() { deflateEnd(&zs); }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void run(Job& job) {
        const auto* in = reinterpret_cast<const Bytef*>(job.input.data());
        job.crc = static_cast<uint32_t>(crc32_z(0, in, job.input.size()));
        if (deflateReset(&zs) != Z_OK) throw Error("gzip: zlib deflate failed");
        if (!job.dictionary.empty() &&
            deflateSetDictionary(&zs, reinterpret_cast<const Bytef*>(job.dictionary.data()),
                                 static_cast<uInt>(job.dictionary.size())) != Z_OK)
            throw Error("gzip: zlib refused the dictionary");
        zs.next_in = const_cast<Bytef*>(in);
        zs.avail_in = static_cast<uInt>(job.input.size());
        job.output.resize(deflateBound(&zs, job.input.size()) + 16);
        const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
        size_t used = 0;
        for (;;) {
            if (used == job.output.size()) job.output.resize(job.output.size() * 2);
            zs.next_out = reinterpret_cast<Bytef*>(job.output.data() + used);
            zs.avail_out = static_cast<uInt>(job.output.size() - used);
            const int rc = ::deflate(&zs, flush);
            used = job.output.size() - zs.avail_out;
            if (rc == Z_STREAM_ERROR) throw Error("gzip: zlib deflate failed");
            if (job.last ? rc == Z_STREAM_END : zs.avail_out != 0) break;
        }
        job.output.resize(used);
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
    job->dictionary = dictionary_;
    job->last = last;
    const std::string& in = job->input;
    dictionary_.append(in, in.size() - std::min(in.size(), kWindow));
    dictionary_.erase(0, dictionary_.size() - std::min(dictionary_.size(), kWindow));
    job->output = reuse(spare_outputs_);
    pending_ = reuse(spare_inputs_);
    if (!last) pending_.reserve(piece_);

    if (last && threads_.empty()) {  // the only piece: no threads needed
        Worker here;
        here.run(*job);
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
