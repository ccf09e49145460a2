#include "upload/dump_pack.h"

#include <condition_variable>
#include <deque>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <streambuf>
#include <string>
#include <thread>

#include "common/error.h"

namespace ringolan::upload {
namespace {

constexpr size_t kPiecesInFlight = 4;

// Pieces from the dump's thread to the packing thread, at most kPiecesInFlight waiting.
class PiecePipe {
public:
    // False once the reader has given up.
    bool push(std::string piece) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return pieces_.size() < kPiecesInFlight || reader_gone_; });
        if (reader_gone_) return false;
        pieces_.push_back(std::move(piece));
        changed_.notify_all();
        return true;
    }
    // False when the writer has ended (all pieces taken) or broken off.
    bool pop(std::string& piece) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !pieces_.empty() || ended_; });
        if (broken_ || pieces_.empty()) return false;
        piece = std::move(pieces_.front());
        pieces_.pop_front();
        changed_.notify_all();
        return true;
    }
    void end(bool broken) {
        std::lock_guard lock(mutex_);
        ended_ = true;
        broken_ = broken;
        changed_.notify_all();
    }
    void reader_gone() {
        std::lock_guard lock(mutex_);
        reader_gone_ = true;
        changed_.notify_all();
    }
    bool broken() const {
        std::lock_guard lock(mutex_);
        return broken_;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> pieces_;
    bool ended_ = false, broken_ = false, reader_gone_ = false;
};

// The dump's stream: one piece of put area; a full piece goes into the pipe. Writing fails (the
// stream goes bad) when the reader has given up or the stop check gives an exception (kept in
// stopped).
class PipeBuffer : public std::streambuf {
public:
    PipeBuffer(PiecePipe& pipe, const StopCheck& stop, std::exception_ptr& stopped)
        : pipe_(pipe), stop_(stop), stopped_(stopped) {
        fresh();
    }
    // Hands over what is left; false as for a failed write.
    bool hand_over() {
        piece_.resize(static_cast<size_t>(pptr() - pbase()));
        if (stop_ && !stopped_) stopped_ = stop_();
        if (stopped_) return false;
        const bool ok = piece_.empty() || pipe_.push(std::move(piece_));
        fresh();
        return ok;
    }

protected:
    int_type overflow(int_type ch) override {
        if (!hand_over()) return traits_type::eof();
        if (!traits_type::eq_int_type(ch, traits_type::eof())) {
            *pptr() = traits_type::to_char_type(ch);
            pbump(1);
        }
        return traits_type::not_eof(ch);
    }

private:
    void fresh() {
        piece_.assign(kGzipPiece, '\0');
        setp(piece_.data(), piece_.data() + piece_.size());
    }
    PiecePipe& pipe_;
    const StopCheck& stop_;
    std::exception_ptr& stopped_;
    std::string piece_;
};

std::runtime_error cannot_write(const std::filesystem::path& file) {
    return std::runtime_error("Die Datei " + file.string() + " kann nicht geschrieben werden");
}

}  // namespace

PackedDump dump_and_pack(const DumpFunction& dump, const std::filesystem::path& sql, const std::filesystem::path& gz,
                         const StopCheck& stop, const std::filesystem::path& named) {
    const std::filesystem::path& name = named.empty() ? sql : named;
    if (name.string().size() > kGzipMaxPath) throw GzipPathTooLong();
    std::ofstream sql_out(sql, std::ios::binary | std::ios::trunc);
    if (!sql_out) throw cannot_write(sql);
    std::ofstream gz_out(gz, std::ios::binary | std::ios::trunc);
    if (!gz_out) throw cannot_write(gz);

    PackedDump packed;
    PiecePipe pipe;
    std::exception_ptr pack_error;
    std::thread packer([&] {
        try {
            GzipWriter writer(gz_out, name.filename().string());
            std::string piece;
            while (pipe.pop(piece)) {
                sql_out.write(piece.data(), static_cast<std::streamsize>(piece.size()));
                if (!sql_out) throw cannot_write(sql);
                writer.write(piece.data(), piece.size());
            }
            if (pipe.broken()) return;
            packed.gzip = writer.finish();
            sql_out.close();
            if (!sql_out) throw cannot_write(sql);
            gz_out.close();
            if (!gz_out) throw Error("gzip: closing the output failed");
        } catch (const std::runtime_error& e) {
            pack_error = std::make_exception_ptr(std::runtime_error(sql.string() + " -> " + gz.string() + ": " + e.what()));
            pipe.reader_gone();
        } catch (...) {
            pack_error = std::current_exception();
            pipe.reader_gone();
        }
    });

    std::exception_ptr dump_error, stopped;
    try {
        PipeBuffer buffer(pipe, stop, stopped);
        std::ostream out(&buffer);
        packed.lines = dump(out);
        if (!buffer.hand_over()) throw Error("the dump could not be handed over");
    } catch (...) {
        dump_error = std::current_exception();
    }
    pipe.end(dump_error != nullptr);
    packer.join();

    if (stopped) std::rethrow_exception(stopped);
    if (pack_error) std::rethrow_exception(pack_error);
    if (dump_error) std::rethrow_exception(dump_error);
    return packed;
}

}  // namespace ringolan::upload
