#include "db/snapshot/snapshot_child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <system_error>

#include "common/unique_fd.h"
#include "db/snapshot/snapshot_build.h"

namespace ringolan::db {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr char kImage = 'I';
constexpr char kError = 'E';
constexpr size_t kHeader = 9;  // tag and length, see child_answer.cpp
constexpr int kExecFailed = 127;
constexpr int kAnswerFd = 3;
// While waiting for data the parent also checks the child every so often: another thread's
// child may hold a copy of the pipe's write end, so EOF alone does not prove the child ended.
constexpr int kCheckMs = 50;

fs::path find_reader() {
    std::error_code ec;
    const fs::path self = fs::read_symlink("/proc/self/exe", ec);
    if (!ec) {
        const fs::path beside = self.parent_path() / "ringolan-snapshot-reader";
        if (fs::exists(beside, ec)) return beside;
    }
#ifdef RINGOLAN_SNAPSHOT_READER
    if (fs::exists(RINGOLAN_SNAPSHOT_READER, ec)) return RINGOLAN_SNAPSHOT_READER;
#endif
    return {};
}

std::string describe_exit(int status) {
    if (WIFSIGNALED(status)) {
        const int sig = WTERMSIG(status);
        const char* name = ::sigdescr_np(sig);
        return "the reader crashed with signal " + std::to_string(sig) + (name ? std::string(" (") + name + ")" : "");
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == kExecFailed) return "the reader program could not be started";
    if (WIFEXITED(status)) return "the reader ended with exit code " + std::to_string(WEXITSTATUS(status));
    return "the reader ended abnormally";
}

struct Reaped {
    bool done = false;
    int status = 0;
    long peak_kib = 0;
};

Reaped try_reap(pid_t pid, bool block) {
    Reaped r;
    struct rusage usage {};
    pid_t got;
    do {
        got = ::wait4(pid, &r.status, block ? 0 : WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got == pid) {
        r.done = true;
        r.peak_kib = usage.ru_maxrss;
    }
    return r;
}

// The environment of the reader: ours, and transparent huge pages for its heap (a large file
// takes hundreds of megabytes; glibc 2.35 and later use them, which cuts its time by a fifth;
// others ignore the setting) unless GLIBC_TUNABLES is set already. Null-terminated.
std::vector<char*> reader_environment() {
    std::vector<char*> envp;
    bool tunables_set = false;
    for (char** e = environ; *e; ++e) {
        tunables_set = tunables_set || std::strncmp(*e, "GLIBC_TUNABLES=", 15) == 0;
        envp.push_back(*e);
    }
    static char kHugePages[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
    if (!tunables_set) envp.push_back(kHugePages);
    envp.push_back(nullptr);
    return envp;
}

// The forked child: runs build itself, or execs the reader with the answer pipe as kAnswerFd.
// Only async-signal-safe calls from here on.
[[noreturn]] void run_child(int answer_fd, const fs::path& mdb, ImageBuilder build, char* const argv[],
                            char* const envp[]) {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    ::sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
    if (build) {
        ::signal(SIGPIPE, SIG_DFL);
        ::_exit(answer_build(answer_fd, mdb, build));
    }
    // dup2 clears close-on-exec on the copy; the pipe's own ends close at exec.
    if (answer_fd == kAnswerFd) {
        ::fcntl(kAnswerFd, F_SETFD, 0);
    } else if (::dup2(answer_fd, kAnswerFd) < 0) {
        ::_exit(kExecFailed);
    }
    ::execve(argv[0], argv, envp);
    ::_exit(kExecFailed);
}

struct Child {
    pid_t pid;
    UniqueFd answer;  // the pipe's read end
};

// Forks the child; everything it needs is made before the fork.
Child spawn_child(const fs::path& mdb, ImageBuilder build, const std::string& program) {
    const std::string file = mdb.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
    const std::vector<char*> envp = reader_environment();
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    UniqueFd read_end(fds[0]), write_end(fds[1]);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    if (pid == 0) run_child(write_end.get(), mdb, build, argv, envp.data());
    return Child{pid, std::move(read_end)};
}

// The framed answer as far as it arrived: tag and length, then the payload.
struct Answer {
    std::vector<uint8_t> header;
    std::vector<uint8_t> payload;
    uint64_t expected = 0;
    bool complete = false;
    bool timed_out = false;
    Reaped reaped;  // set when the child was seen to end while the answer was awaited
};

// Reads the answer until it is complete, the pipe ends, garbage arrives or the deadline passes.
Answer read_answer(int fd, pid_t pid, Clock::time_point deadline) {
    Answer a;
    bool have_header = false, eof = false;
    std::vector<uint8_t> chunk(1 << 16);
    while (!a.complete && !eof) {
        const auto now = Clock::now();
        if (now >= deadline) {
            a.timed_out = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        struct pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<long long>(left + 1, kCheckMs)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            // Nothing to read: has the child ended without closing every copy of the pipe?
            if (!a.reaped.done) a.reaped = try_reap(pid, false);
            if (a.reaped.done) {
                // Drain what it wrote before ending.
                ::fcntl(fd, F_SETFL, O_NONBLOCK);
            } else {
                continue;
            }
        }
        const ssize_t n = ::read(fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN) {
                eof = true;  // child ended and nothing is left
                continue;
            }
            break;
        }
        if (n == 0) {
            eof = true;
            continue;
        }
        size_t used = 0;
        if (!have_header) {
            used = std::min<size_t>(size_t(n), kHeader - a.header.size());
            a.header.insert(a.header.end(), chunk.begin(), chunk.begin() + used);
            if (a.header.size() == kHeader) {
                have_header = true;
                std::memcpy(&a.expected, a.header.data() + 1, 8);
                if ((a.header[0] != kImage && a.header[0] != kError) || a.expected > (uint64_t(1) << 40)) {
                    break;  // garbage on the pipe
                }
                a.payload.reserve(std::min<uint64_t>(a.expected, uint64_t(1) << 28));  // grows beyond as data come
            }
        }
        a.payload.insert(a.payload.end(), chunk.begin() + used, chunk.begin() + n);
        if (have_header && a.payload.size() >= a.expected) a.complete = true;
    }
    return a;
}

// The child has answered or closed the pipe; it still gets only the rest of the limit to end,
// then it is killed. Always reaped; a child still running at the deadline times the answer out.
Reaped reap_child(pid_t pid, Answer& answer, Clock::time_point deadline) {
    Reaped reaped = answer.reaped;
    while (!answer.timed_out && !reaped.done) {
        reaped = try_reap(pid, false);
        if (reaped.done) break;
        if (Clock::now() >= deadline) {
            answer.timed_out = true;
            break;
        }
        ::poll(nullptr, 0, 2);
    }
    if (!reaped.done) {
        ::kill(pid, SIGKILL);
        reaped = try_reap(pid, true);
    }
    return reaped;
}

// What went wrong, from the answer and how the child ended; empty when the image is good.
std::string answer_error(const Answer& a, const Reaped& reaped, std::chrono::milliseconds limit) {
    if (a.timed_out)
        return "reading did not finish within " + std::to_string(limit.count()) + " ms; the reader was stopped";
    if (a.complete && a.payload.size() == a.expected) {
        // An error without a text is still an error, not an empty image.
        if (a.header[0] == kError)
            return a.payload.empty() ? "the reader failed without saying why"
                                     : std::string(a.payload.begin(), a.payload.end());
        // A build that sent a whole image and then crashed on the way out still counts as failed.
        if (WIFEXITED(reaped.status) && WEXITSTATUS(reaped.status) == 0) return {};
    }
    if (!WIFEXITED(reaped.status) || WEXITSTATUS(reaped.status) != 0) return describe_exit(reaped.status);
    return "the reader ended without a complete answer";
}

}  // namespace

fs::path snapshot_reader_program() {
    static const fs::path program = find_reader();
    return program;
}

BuildResult build_snapshot_isolated(const fs::path& mdb, std::chrono::milliseconds limit) {
    return build_snapshot_isolated(mdb, limit, nullptr);
}

BuildResult build_snapshot_isolated(const fs::path& mdb, std::chrono::milliseconds limit, ImageBuilder build) {
    const auto start = Clock::now();
    const auto deadline = start + limit;
    BuildResult result;
    std::string error;
    const std::string program = build ? std::string() : snapshot_reader_program().string();
    if (!build && program.empty()) {
        error = "the reader program ringolan-snapshot-reader was not found";
    } else {
        Child child = spawn_child(mdb, build, program);
        Answer answer = read_answer(child.answer.get(), child.pid, deadline);
        child.answer.reset();  // a child still writing gets EPIPE instead of blocking
        const Reaped reaped = reap_child(child.pid, answer, deadline);
        result.child_peak_kib = reaped.peak_kib;
        error = answer_error(answer, reaped, limit);
        if (error.empty()) result.image = std::move(answer.payload);
    }
    // Errors of the reader usually name the file already.
    if (!error.empty()) result.error = error.rfind(mdb.string(), 0) == 0 ? error : mdb.string() + ": " + error;
    result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    return result;
}

}  // namespace ringolan::db
