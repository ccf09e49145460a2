#include "db/snapshot/snapshot_child.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <thread>

#include "db/snapshot/snapshot_build.h"
#include "platform/heap_tuning.h"
#include "platform/process.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using platform::ChildProcess;
using platform::ExitStatus;

constexpr char kImage = 'I';
constexpr char kError = 'E';
constexpr size_t kHeader = 9;  // tag and length, see child_answer.cpp
// While waiting for data the parent also checks the child every so often: another thread's
// child may hold a copy of the pipe's write end, so EOF alone does not prove the child ended.
constexpr std::chrono::milliseconds kCheck{50};

fs::path find_reader() {
    std::error_code ec;
    const fs::path self = platform::running_program();
    if (!self.empty()) {
        const fs::path beside = self.parent_path() / "ringolan-snapshot-reader";
        if (fs::exists(beside, ec)) return beside;
    }
#ifdef RINGOLAN_SNAPSHOT_READER
    if (fs::exists(RINGOLAN_SNAPSHOT_READER, ec)) return RINGOLAN_SNAPSHOT_READER;
#endif
    return {};
}

std::string describe_exit(const ExitStatus& status) {
    if (status.crashed && status.code != 0) {
        const std::string& name = status.crash_name;
        return "the reader crashed with signal " + std::to_string(status.code) + (name.empty() ? "" : " (" + name + ")");
    }
    if (status.crashed) return "the reader ended abnormally";
    if (status.code == platform::kStartFailedExit) return "the reader program could not be started";
    return "the reader ended with exit code " + std::to_string(status.code);
}

// The work of a child without exec, for tests.
struct InProcessBuild {
    const fs::path* mdb;
    ImageBuilder build;
};

int run_in_process_build(platform::NativeHandle answer, const void* context) {
    const auto* job = static_cast<const InProcessBuild*>(context);
    return answer_build(answer, *job->mdb, job->build);
}

// Starts the child: the reader program, or build in a copy of this process. The reader gets
// transparent huge pages for its heap where the system offers them (a large file takes
// hundreds of megabytes; they cut its time by a fifth).
ChildProcess start_child(const fs::path& mdb, ImageBuilder build, const std::string& program,
                         const BuildOptions& options) {
    if (build) {
        const InProcessBuild job{&mdb, build};
        return ChildProcess::start_function(run_in_process_build, &job);
    }
    std::vector<std::string> args;
    if (options.only_indexes) {
        std::string list;
        for (const std::string& index : *options.only_indexes) list += (list.empty() ? "" : ",") + index;
        args = {"--indexes", list};
    }
    args.push_back(mdb.string());
    return ChildProcess::start({program, args, platform::large_heap_environment()});
}

BuildResult build_isolated(const fs::path& mdb, std::chrono::milliseconds limit, ImageBuilder build,
                           const BuildOptions& options);

// The framed answer as far as it arrived: tag and length, then the payload.
struct Answer {
    std::vector<uint8_t> header;
    std::vector<uint8_t> payload;
    uint64_t expected = 0;
    bool complete = false;
    bool timed_out = false;
    std::optional<ExitStatus> ended;  // set when the child was seen to end while the answer was awaited
};

// Adds bytes that arrived to the answer; false when they are garbage.
bool take(Answer& a, const uint8_t* data, size_t size) {
    size_t used = 0;
    if (a.header.size() < kHeader) {
        used = std::min(size, kHeader - a.header.size());
        a.header.insert(a.header.end(), data, data + used);
        if (a.header.size() < kHeader) return true;
        std::memcpy(&a.expected, a.header.data() + 1, 8);
        if ((a.header[0] != kImage && a.header[0] != kError) || a.expected > (uint64_t(1) << 40)) return false;
        a.payload.reserve(std::min<uint64_t>(a.expected, uint64_t(1) << 28));  // grows beyond as data come
        platform::advise_large_pages(a.payload.data(), a.payload.capacity());
    }
    a.payload.insert(a.payload.end(), data + used, data + size);
    if (a.payload.size() >= a.expected) a.complete = true;
    return true;
}

// Reads the answer until it is complete, the pipe ends, garbage arrives or the deadline passes.
Answer read_answer(ChildProcess& child, Clock::time_point deadline) {
    Answer a;
    std::vector<uint8_t> chunk(1 << 20);
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline) {
            a.timed_out = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
        size_t got = 0;
        ChildProcess::Read r = child.read(chunk.data(), chunk.size(), std::min(left + std::chrono::milliseconds(1), kCheck), got);
        if (r == ChildProcess::Read::nothing) {
            // Nothing to read: has the child ended without closing every copy of the pipe?
            if (!a.ended) a.ended = child.try_wait();
            if (!a.ended) continue;
            // Drain what it wrote before ending; nothing left is the end.
            r = child.read(chunk.data(), chunk.size(), std::chrono::milliseconds(0), got);
            if (r == ChildProcess::Read::nothing) r = ChildProcess::Read::end;
        }
        if (r != ChildProcess::Read::data || !take(a, chunk.data(), got) || a.complete) break;
    }
    return a;
}

// The child has answered or closed the pipe; it still gets only the rest of the limit to end,
// then it is killed. Always reaped; a child still running at the deadline times the answer out.
ExitStatus reap_child(ChildProcess& child, Answer& answer, Clock::time_point deadline) {
    std::optional<ExitStatus> ended = answer.ended;
    while (!answer.timed_out && !ended) {
        ended = child.try_wait();
        if (ended) break;
        if (Clock::now() >= deadline) {
            answer.timed_out = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return ended ? *ended : child.kill_and_wait();
}

// What went wrong, from the answer and how the child ended; empty when the image is good.
std::string answer_error(const Answer& a, const ExitStatus& ended, std::chrono::milliseconds limit) {
    if (a.timed_out)
        return "reading did not finish within " + std::to_string(limit.count()) + " ms; the reader was stopped";
    if (a.complete && a.payload.size() == a.expected) {
        // An error without a text is still an error, not an empty image.
        if (a.header[0] == kError)
            return a.payload.empty() ? "the reader failed without saying why"
                                     : std::string(a.payload.begin(), a.payload.end());
        // A build that sent a whole image and then crashed on the way out still counts as failed.
        if (ended.succeeded()) return {};
    }
    if (!ended.succeeded()) return describe_exit(ended);
    return "the reader ended without a complete answer";
}

}  // namespace

fs::path snapshot_reader_program() {
    static const fs::path program = find_reader();
    return program;
}

BuildResult build_snapshot_isolated(const fs::path& mdb, std::chrono::milliseconds limit) {
    return build_isolated(mdb, limit, nullptr, {});
}

BuildResult build_snapshot_isolated(const fs::path& mdb, std::chrono::milliseconds limit, const BuildOptions& options) {
    return build_isolated(mdb, limit, nullptr, options);
}

BuildResult build_snapshot_isolated(const fs::path& mdb, std::chrono::milliseconds limit, ImageBuilder build) {
    return build_isolated(mdb, limit, build, {});
}

namespace {

BuildResult build_isolated(const fs::path& mdb, std::chrono::milliseconds limit, ImageBuilder build,
                           const BuildOptions& options) {
    const auto start = Clock::now();
    const auto deadline = start + limit;
    BuildResult result;
    std::string error;
    const std::string program = build ? std::string() : snapshot_reader_program().string();
    if (!build && program.empty()) {
        error = "the reader program ringolan-snapshot-reader was not found";
    } else {
        ChildProcess child = start_child(mdb, build, program, options);
        Answer answer = read_answer(child, deadline);
        child.close_answer();  // a child still writing gets EPIPE instead of blocking
        const ExitStatus ended = reap_child(child, answer, deadline);
        result.child_peak_kib = ended.peak_kib;
        error = answer_error(answer, ended, limit);
        if (error.empty()) result.image = std::move(answer.payload);
    }
    // Errors of the reader usually name the file already.
    if (!error.empty()) result.error = error.rfind(mdb.string(), 0) == 0 ? error : mdb.string() + ": " + error;
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return result;
}

}  // namespace

}  // namespace ringolan::db
