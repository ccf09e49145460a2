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
    auto finish = [&](std::string error) {
        if (!error.empty()) {
            result.image.clear();
            // Errors of the reader usually name the file already.
            result.error = error.rfind(mdb.string(), 0) == 0 ? error : mdb.string() + ": " + error;
        }
        result.elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
        return std::move(result);
    };

    // Everything the exec'ing child needs is made before the fork.
    const std::string program = build ? std::string() : snapshot_reader_program().string();
    const std::string file = mdb.string();
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>(file.c_str()), nullptr};
    // The reader's heap of a large file takes hundreds of megabytes: transparent huge pages
    // for it (glibc 2.35 and later; others ignore the setting) cut its time by a fifth.
    std::vector<char*> envp;
    bool tunables_set = false;
    for (char** e = environ; *e; ++e) {
        tunables_set = tunables_set || std::strncmp(*e, "GLIBC_TUNABLES=", 15) == 0;
        envp.push_back(*e);
    }
    static char kHugePages[] = "GLIBC_TUNABLES=glibc.malloc.hugetlb=1";
    if (!tunables_set) envp.push_back(kHugePages);
    envp.push_back(nullptr);
    if (!build && program.empty()) {
        return finish("the reader program ringolan-snapshot-reader was not found");
    }

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    const pid_t pid = ::fork();
    if (pid < 0) {
        const int err = errno;
        ::close(fds[0]);
        ::close(fds[1]);
        throw std::system_error(err, std::generic_category(), "fork");
    }
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        ::sigemptyset(&none);
        ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
        if (build) {
            ::signal(SIGPIPE, SIG_DFL);
            ::_exit(answer_build(fds[1], mdb, build));
        }
        // dup2 clears close-on-exec on the copy; the pipe's own ends close at exec.
        if (fds[1] == kAnswerFd) {
            ::fcntl(kAnswerFd, F_SETFD, 0);
        } else if (::dup2(fds[1], kAnswerFd) < 0) {
            ::_exit(kExecFailed);
        }
        ::execve(argv[0], argv, envp.data());
        ::_exit(kExecFailed);
    }
    ::close(fds[1]);
    const int fd = fds[0];

    std::vector<uint8_t> header;
    std::vector<uint8_t>& payload = result.image;
    uint64_t expected = 0;
    bool have_header = false, complete = false, eof = false, timed_out = false;
    Reaped reaped;
    std::vector<uint8_t> chunk(1 << 16);

    while (!complete && !eof) {
        const auto now = Clock::now();
        if (now >= deadline) {
            timed_out = true;
            break;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
        struct pollfd p {fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, int(std::min<long long>(left + 1, kCheckMs)));
        if (ready < 0 && errno != EINTR) break;
        if (ready <= 0) {
            // Nothing to read: has the child ended without closing every copy of the pipe?
            if (!reaped.done) reaped = try_reap(pid, false);
            if (reaped.done) {
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
            used = std::min<size_t>(size_t(n), kHeader - header.size());
            header.insert(header.end(), chunk.begin(), chunk.begin() + used);
            if (header.size() == kHeader) {
                have_header = true;
                std::memcpy(&expected, header.data() + 1, 8);
                if ((header[0] != kImage && header[0] != kError) || expected > (uint64_t(1) << 40)) {
                    break;  // garbage on the pipe
                }
                payload.reserve(std::min<uint64_t>(expected, uint64_t(1) << 28));  // grows beyond as data come
            }
        }
        payload.insert(payload.end(), chunk.begin() + used, chunk.begin() + n);
        if (have_header && payload.size() >= expected) complete = true;
    }
    ::close(fd);

    // The child has answered or closed the pipe; it still gets only the rest of the limit to end.
    while (!timed_out && !reaped.done) {
        reaped = try_reap(pid, false);
        if (reaped.done) break;
        if (Clock::now() >= deadline) {
            timed_out = true;
            break;
        }
        ::poll(nullptr, 0, 2);
    }
    if (!reaped.done) {
        ::kill(pid, SIGKILL);
        reaped = try_reap(pid, true);
    }
    result.child_peak_kib = reaped.peak_kib;

    if (timed_out) {
        return finish("reading did not finish within " + std::to_string(limit.count()) + " ms; the reader was stopped");
    }
    if (complete && payload.size() == expected) {
        if (header[0] == kError) return finish(std::string(payload.begin(), payload.end()));
        // A build that sent a whole image and then crashed on the way out still counts as failed.
        if (WIFEXITED(reaped.status) && WEXITSTATUS(reaped.status) == 0) return finish({});
    }
    if (!WIFEXITED(reaped.status) || WEXITSTATUS(reaped.status) != 0) return finish(describe_exit(reaped.status));
    return finish("the reader ended without a complete answer");
}

}  // namespace ringolan::db
