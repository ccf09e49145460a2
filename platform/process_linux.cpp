#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <system_error>
#include <utility>

#include "platform/posix/unique_fd.h"

namespace ringolan::platform {
namespace {

constexpr int kAnswerFd = 3;

// The environment of a started program: ours, and each default whose name is not set.
std::vector<std::string> child_environment(const std::vector<std::string>& defaults) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (const std::string& d : defaults) {
        const std::string name = d.substr(0, d.find('=') + 1);
        bool set = false;
        for (char** e = environ; *e && !set; ++e) set = std::strncmp(*e, name.c_str(), name.size()) == 0;
        if (!set) env.push_back(d);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (std::string& s : strings) out.push_back(s.data());
    out.push_back(nullptr);
    return out;
}

// The child right after the fork: dies with the parent, with no signal blocked. Async-signal-safe.
void prepare_child() {
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t none;
    ::sigemptyset(&none);
    ::pthread_sigmask(SIG_SETMASK, &none, nullptr);
}

// Execs the program with the answer pipe as kAnswerFd. Async-signal-safe.
[[noreturn]] void exec_child(int answer_fd, char* const argv[], char* const envp[]) {
    // dup2 clears close-on-exec on the copy; the pipe's own ends close at exec.
    if (answer_fd == kAnswerFd) {
        ::fcntl(kAnswerFd, F_SETFD, 0);
    } else if (::dup2(answer_fd, kAnswerFd) < 0) {
        ::_exit(kStartFailedExit);
    }
    ::execve(argv[0], argv, envp);
    ::_exit(kStartFailedExit);
}

struct Pipe {
    UniqueFd read_end, write_end;
};

Pipe make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

pid_t fork_or_throw() {
    const pid_t pid = ::fork();
    if (pid < 0) throw std::system_error(errno, std::generic_category(), "fork");
    return pid;
}

ExitStatus exit_status(int status, const struct rusage& usage) {
    ExitStatus s;
    s.peak_kib = usage.ru_maxrss;
    if (WIFSIGNALED(status)) {
        s.crashed = true;
        s.code = WTERMSIG(status);
        const char* name = ::sigdescr_np(s.code);
        if (name) s.crash_name = name;
    } else if (WIFEXITED(status)) {
        s.code = WEXITSTATUS(status);
    } else {
        s.crashed = true;
    }
    return s;
}

std::optional<ExitStatus> reap(pid_t pid, bool block) {
    int status = 0;
    struct rusage usage {};
    pid_t got;
    do {
        got = ::wait4(pid, &status, block ? 0 : WNOHANG, &usage);
    } while (got < 0 && errno == EINTR);
    if (got != pid) return std::nullopt;
    return exit_status(status, usage);
}

}  // namespace

std::filesystem::path running_program() {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::filesystem::path() : self;
}

long peak_memory_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

NativeHandle answer_channel() { return kAnswerFd; }

bool write_channel(NativeHandle channel, const void* data, std::size_t size) {
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(int(channel), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

ChildProcess ChildProcess::start(const Launch& launch) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> args{launch.program.string()};
    args.insert(args.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> env = child_environment(launch.default_environment);
    const std::vector<char*> argv = pointers(args), envp = pointers(env);
    Pipe pipe = make_pipe();
    const pid_t pid = fork_or_throw();
    if (pid == 0) {
        prepare_child();
        exec_child(pipe.write_end.get(), argv.data(), envp.data());
    }
    return ChildProcess(pid, pipe.read_end.release());
}

ChildProcess ChildProcess::start_function(Function function, const void* context) {
    Pipe pipe = make_pipe();
    const pid_t pid = fork_or_throw();
    if (pid == 0) {
        prepare_child();
        ::signal(SIGPIPE, SIG_DFL);
        ::_exit(function(pipe.write_end.get(), context));
    }
    return ChildProcess(pid, pipe.read_end.release());
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : id_(std::exchange(other.id_, kNoHandle)),
      answer_(std::exchange(other.answer_, kNoHandle)),
      ended_(std::move(other.ended_)) {}

ChildProcess::~ChildProcess() {
    close_answer();
    if (id_ != kNoHandle && !ended_) kill_and_wait();
}

ChildProcess::Read ChildProcess::read(void* out, std::size_t size, std::chrono::milliseconds wait,
                                      std::size_t& got) {
    got = 0;
    if (answer_ == kNoHandle) return Read::end;
    struct pollfd p {int(answer_), POLLIN, 0};
    const int ready = ::poll(&p, 1, int(wait.count()));
    if (ready < 0) return errno == EINTR ? Read::nothing : Read::failed;
    if (ready == 0) return Read::nothing;
    ssize_t n;
    do {
        n = ::read(int(answer_), out, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? Read::nothing : Read::failed;
    if (n == 0) return Read::end;
    got = std::size_t(n);
    return Read::data;
}

void ChildProcess::close_answer() {
    if (answer_ != kNoHandle) ::close(int(std::exchange(answer_, kNoHandle)));
}

std::optional<ExitStatus> ChildProcess::try_wait() {
    if (!ended_ && id_ != kNoHandle) ended_ = reap(pid_t(id_), false);
    return ended_;
}

ExitStatus ChildProcess::kill_and_wait() {
    if (try_wait()) return *ended_;
    ::kill(pid_t(id_), SIGKILL);
    ended_ = reap(pid_t(id_), true);
    return ended_ ? *ended_ : ExitStatus{true, SIGKILL, {}, 0};
}

}  // namespace ringolan::platform
