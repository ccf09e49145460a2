// The ringolan-site program: its arguments, the address it prints, answering, and stopping
// on SIGTERM and SIGINT.
#include "site/accounts.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <regex>

#include "site_test_util.h"

extern char** environ;

namespace {

struct Running {
    pid_t pid = -1;
    int out = -1;  // read end of the program's standard output and error
};

Running start(std::vector<std::string> args, const std::string& input = "") {
    int out_pipe[2], in_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(in_pipe) != 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in_pipe[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, out_pipe[1], 2);
    posix_spawn_file_actions_addclose(&actions, out_pipe[0]);
    posix_spawn_file_actions_addclose(&actions, in_pipe[1]);
    args.insert(args.begin(), RINGOLAN_SITE_PROGRAM);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    Running r;
    const int rc = posix_spawn(&r.pid, RINGOLAN_SITE_PROGRAM, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out_pipe[1]);
    ::close(in_pipe[0]);
    if (rc != 0) throw std::runtime_error("posix_spawn");
    if (!input.empty()) (void)!::write(in_pipe[1], input.data(), input.size());
    ::close(in_pipe[1]);
    r.out = out_pipe[0];
    return r;
}

// Output up to and including the next line break (or the end).
std::string read_line(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

std::string read_rest(int fd) {
    std::string all, line;
    while (!(line = read_line(fd)).empty()) all += line;
    return all;
}

int wait_exit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string http_get(uint16_t port, const std::string& target) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    timeval tv{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string in;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) {
        const std::string req = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        (void)!::send(fd, req.data(), req.size(), MSG_NOSIGNAL);
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) in.append(buf, std::size_t(n));
    }
    ::close(fd);
    return in;
}

class SiteProgram : public ::testing::TestWithParam<int> {};

}  // namespace

TEST_P(SiteProgram, PrintsItsAddressAnswersAndStopsOnTheSignal) {
    site_test::TempDir tmp;
    {
        std::ofstream f(tmp.path() / "accounts.json");
        f << R"({"accounts":[{"id":"club1","password":")" << ringolan::site::hash_password("pw", 10) << "\"}]}";
    }
    Running r = start({"--accounts", (tmp.path() / "accounts.json").string(), "--data",
                       (tmp.path() / "data").string(), "--port", "0", "--listen", "127.0.0.1"});
    const std::string first = read_line(r.out);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(first, m, std::regex("^ringolan-site listening on http://127\\.0\\.0\\.1:([0-9]+)/")))
        << first;
    const uint16_t port = uint16_t(std::stoi(m[1]));
    const std::string reply = http_get(port, "/ergebnisse/loeschen.php?id=club1&pw=pw");
    EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
    EXPECT_TRUE(reply.ends_with("\r\n\r\n0")) << reply;

    ::kill(r.pid, GetParam());
    EXPECT_EQ(wait_exit(r.pid), 0);
    EXPECT_EQ(read_rest(r.out), "ringolan-site stopping\n");
    ::close(r.out);
}

INSTANTIATE_TEST_SUITE_P(Signals, SiteProgram, ::testing::Values(SIGTERM, SIGINT));

TEST(SiteProgramArguments, HashPasswordMakesAVerifiableHash) {
    // Typed as UTF-8, hashed as the Windows-1252 bytes an upload sends.
    Running r = start({"--hash-password", "--iterations", "50"}, "gr\xc3\xbcn\n");
    const std::string hash = read_line(r.out);
    EXPECT_EQ(wait_exit(r.pid), 0);
    ::close(r.out);
    ASSERT_TRUE(hash.ends_with("\n"));
    EXPECT_TRUE(hash.starts_with("pbkdf2-sha256$50$"));
    EXPECT_TRUE(ringolan::site::verify_password("gr\xfcn", hash.substr(0, hash.size() - 1)));
}

TEST(SiteProgramArguments, RefusesBadArgumentsAndFiles) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--data", "/tmp"}, {"--port", "70000", "--accounts", "a", "--data", "d"},
          {"--bogus"}, {"--accounts"}}) {
        Running r = start(args);
        const std::string text = read_rest(r.out);
        EXPECT_EQ(wait_exit(r.pid), 2) << text;
        EXPECT_NE(text.find("usage: ringolan-site"), std::string::npos) << text;
        ::close(r.out);
    }
    Running r = start({"--accounts", "/nonexistent/accounts.json", "--data", "/tmp/x"});
    EXPECT_EQ(read_rest(r.out), "ringolan-site: cannot read the accounts file /nonexistent/accounts.json\n");
    EXPECT_EQ(wait_exit(r.pid), 1);
    ::close(r.out);
}
