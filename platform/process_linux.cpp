#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
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

constexpr int kPipeBytes = 1 << 20;  // the usual limit for unprivileged processes

struct Pipe {
    UniqueFd read_end, write_end;
};

Pipe make_pipe() {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) throw std::system_error(errno, std::generic_category(), "pipe2");
    // A large answer (an image of hundreds of megabytes) passes in fewer turns of the two
    // processes with a larger pipe; where the system refuses, the default size serves.
    (void)::fcntl(fds[0], F_SETPIPE_SZ, kPipeBytes);
    return Pipe{UniqueFd(fds[0]), UniqueFd(fds[1])};
}

// Both ends of a two-way channel (a socket pair): read_end is the parent's.
Pipe make_socket_pair() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0)
        throw std::system_error(errno, std::generic_category(), "socketpair");
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

bool write_channel_with_handle(NativeHandle channel, const void* data, std::size_t size, NativeHandle handle) {
    if (size == 0) return false;
    struct iovec first {const_cast<void*>(data), 1};
    alignas(struct cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    struct msghdr message {};
    message.msg_iov = &first;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    struct cmsghdr* header = CMSG_FIRSTHDR(&message);
    header->cmsg_level = SOL_SOCKET;
    header->cmsg_type = SCM_RIGHTS;
    header->cmsg_len = CMSG_LEN(sizeof(int));
    const int fd = int(handle);
    std::memcpy(CMSG_DATA(header), &fd, sizeof fd);
    ssize_t n;
    do {
        n = ::sendmsg(int(channel), &message, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n != 1) return false;
    return write_channel(channel, static_cast<const char*>(data) + 1, size - 1);
}

std::size_t read_channel(NativeHandle channel, void* out, std::size_t size) {
    ssize_t n;
    do {
        n = ::read(int(channel), out, size);
    } while (n < 0 && errno == EINTR);
    return n > 0 ? std::size_t(n) : 0;
}

ChildProcess ChildProcess::start(const Launch& launch) {
    // Everything the child needs is made before the fork.
    std::vector<std::string> args{launch.program.string()};
    args.insert(args.end(), launch.arguments.begin(), launch.arguments.end());
    std::vector<std::string> env = child_environment(launch.default_environment);
    const std::vector<char*> argv = pointers(args), envp = pointers(env);
    Pipe pipe = launch.two_way ? make_socket_pair() : make_pipe();
    const pid_t pid = fork_or_throw();
    if (pid == 0) {
        prepare_child();
        exec_child(pipe.write_end.get(), argv.data(), envp.data());
    }
    return ChildProcess(pid, pipe.read_end.release(), launch.two_way);
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
      two_way_(other.two_way_),
      handles_(std::exchange(other.handles_, {})),
      ended_(std::move(other.ended_)) {}

ChildProcess::~ChildProcess() {
    for (NativeHandle h : handles_) ::close(int(h));
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
        n = two_way_ ? receive(out, size) : ::read(int(answer_), out, size);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return errno == EAGAIN ? Read::nothing : Read::failed;
    if (n == 0) return Read::end;
    got = std::size_t(n);
    return Read::data;
}

long ChildProcess::receive(void* out, std::size_t size) {
    struct iovec part {out, size};
    alignas(struct cmsghdr) char control[CMSG_SPACE(4 * sizeof(int))];
    struct msghdr message {};
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(int(answer_), &message, MSG_CMSG_CLOEXEC);
    for (struct cmsghdr* h = CMSG_FIRSTHDR(&message); n >= 0 && h; h = CMSG_NXTHDR(&message, h)) {
        if (h->cmsg_level != SOL_SOCKET || h->cmsg_type != SCM_RIGHTS) continue;
        const std::size_t count = (h->cmsg_len - CMSG_LEN(0)) / sizeof(int);
        for (std::size_t i = 0; i < count; ++i) {
            int fd;
            std::memcpy(&fd, CMSG_DATA(h) + i * sizeof(int), sizeof fd);
            handles_.push_back(fd);
        }
    }
    return n;
}

bool ChildProcess::send(const void* data, std::size_t size) {
    if (!two_way_ || answer_ == kNoHandle) return false;
    const auto* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::send(int(answer_), p, size, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

NativeHandle ChildProcess::take_handle() {
    if (handles_.empty()) return kNoHandle;
    const NativeHandle h = handles_.front();
    handles_.erase(handles_.begin());
    return h;
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
