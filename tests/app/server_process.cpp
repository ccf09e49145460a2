#include "tests/app/server_process.h"
#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace ringolan::test_app {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

RawClient::RawClient(uint16_t port) {
    fd_ = test_support::connect_loopback(port);
}

RawClient::~RawClient() {
    if (fd_ >= 0) ::close(fd_);
}

bool RawClient::send(std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (n <= 0) return false;
        bytes.remove_prefix(std::size_t(n));
    }
    return true;
}

void RawClient::shutdown_write() { ::shutdown(fd_, SHUT_WR); }

std::string RawClient::receive_some(std::size_t n, std::chrono::milliseconds limit) {
    std::string out;
    const auto end = Clock::now() + limit;
    char buf[65536];
    while (out.size() < n) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        if (left <= 0) break;
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0) break;
        const ssize_t got = ::recv(fd_, buf, std::min(sizeof buf, n - out.size()), 0);
        if (got <= 0) break;
        out.append(buf, std::size_t(got));
    }
    return out;
}

std::string RawClient::receive_all(std::chrono::milliseconds limit) {
    return receive_some(std::string::npos, limit);
}

void RawClient::reset() {
    linger l{1, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    ::close(fd_);
    fd_ = -1;
}

std::string exchange(uint16_t port, std::string_view request) {
    RawClient c(port);
    if (!c.connected() || !c.send(request)) return "<no connection>";
    return c.receive_all();
}

fs::path ServerProcess::program() { return fs::path(RINGOLAN_BINARY_DIR) / "app" / "ringolan-server"; }

namespace {

std::vector<char*> argv_of(std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    return argv;
}

fs::path new_log_file() {
    static std::atomic<int> counter{0};
    return fs::temp_directory_path() /
           ("ringolan-server-test-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".log");
}

// fork + exec with stdout to a pipe (returned) and stderr to the log file.
int spawn(std::vector<std::string> args, const fs::path& log, int& out_fd) {
    args.insert(args.begin(), ServerProcess::program().string());
    auto argv = argv_of(args);
    int pipe_fds[2];
    if (::pipe2(pipe_fds, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
    const int err = ::open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipe_fds[1], 1);
        ::dup2(err, 2);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(pipe_fds[1]);
    ::close(err);
    out_fd = pipe_fds[0];
    return pid;
}

std::optional<int> wait_exit(int pid, std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid, &status, WNOHANG);
        if (r == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        if (Clock::now() > end) return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

std::string read_file(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

ServerProcess::ServerProcess(std::vector<std::string> args, std::chrono::seconds start_limit)
    : log_file_(new_log_file()) {
    int out = -1;
    pid_ = spawn(std::move(args), log_file_, out);
    std::string line;
    const auto end = Clock::now() + start_limit;
    while (line.find('\n') == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
        pollfd p{out, POLLIN, 0};
        char buf[256];
        ssize_t n = 0;
        if (left > 0 && ::poll(&p, 1, int(left)) > 0) n = ::read(out, buf, sizeof buf);
        if (n <= 0) break;
        line.append(buf, std::size_t(n));
    }
    ::close(out);
    // "Listening on http://HOST:PORT/"
    const auto scheme = line.find("http://");
    const auto slash = scheme == std::string::npos ? scheme : line.find('/', scheme + 7);
    const auto colon = slash == std::string::npos ? slash : line.rfind(':', slash);
    if (colon == std::string::npos || colon < scheme + 7) {
        ::kill(pid_, SIGKILL);
        wait_exit(pid_, std::chrono::seconds(5));
        pid_ = -1;
        throw std::runtime_error("the server did not start: " + read_file(log_file_));
    }
    port_ = uint16_t(std::stoi(line.substr(colon + 1)));
}

ServerProcess::~ServerProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        wait_exit(pid_, std::chrono::seconds(5));
    }
    std::error_code ec;
    fs::remove(log_file_, ec);
}

std::optional<int> ServerProcess::stop(int signal, std::chrono::milliseconds limit) {
    ::kill(pid_, signal);
    auto code = wait_exit(pid_, limit);
    if (code) pid_ = -1;
    return code;
}

bool ServerProcess::running() {
    if (pid_ <= 0) return false;
    int status = 0;
    return ::waitpid(pid_, &status, WNOHANG) == 0;
}

std::string ServerProcess::log() const { return read_file(log_file_); }

Finished run_to_end(std::vector<std::string> args, std::chrono::seconds limit) {
    const fs::path log = new_log_file();
    int out = -1;
    const int pid = spawn(std::move(args), log, out);
    ::close(out);
    Finished f;
    auto code = wait_exit(pid, limit);
    if (!code) {
        ::kill(pid, SIGKILL);
        wait_exit(pid, std::chrono::seconds(5));
    }
    f.exit_code = code.value_or(-1);
    f.err = read_file(log);
    std::error_code ec;
    fs::remove(log, ec);
    return f;
}

}  // namespace ringolan::test_app
