// Running ringolan-site in tests: starting it with its output on a pipe, reading its lines,
// waiting for its exit, and plain HTTP requests to it. RINGOLAN_SITE_PROGRAM names the program.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/loopback.h"

extern char** environ;

namespace site_test {

struct Running {
    pid_t pid = -1;
    int out = -1;  // read end of the program's standard output and error
};

inline Running start(std::vector<std::string> args, const std::string& input = "") {
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
inline std::string read_line(int fd) {
    std::string line;
    char c;
    while (::read(fd, &c, 1) == 1) {
        line += c;
        if (c == '\n') break;
    }
    return line;
}

inline std::string read_rest(int fd) {
    std::string all, line;
    while (!(line = read_line(fd)).empty()) all += line;
    return all;
}

inline int wait_exit(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// One request on a new connection; the whole reply, read until the server closes.
inline std::string http_request(uint16_t port, const std::string& request) {
    const int fd = ringolan::test_support::connect_loopback(port, std::chrono::seconds(60));
    std::string in;
    if (fd >= 0) {
        for (std::size_t sent = 0; sent < request.size();) {
            const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) break;
            sent += std::size_t(n);
        }
        char buf[4096];
        ssize_t n;
        while ((n = ::recv(fd, buf, sizeof buf, 0)) > 0) in.append(buf, std::size_t(n));
    }
    if (fd >= 0) ::close(fd);
    return in;
}

inline std::string http_get(uint16_t port, const std::string& target) {
    return http_request(port, "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
}

// The body of a reply; empty without one.
inline std::string body_of(const std::string& reply) {
    const std::size_t end = reply.find("\r\n\r\n");
    return end == std::string::npos ? "" : reply.substr(end + 4);
}

// Posts a table's gzip file to the account as an upload does.
inline std::string post_file(uint16_t port, const std::string& id, const std::string& gzip_bytes) {
    const std::string boundary = "--------------------------120709143005123";
    const std::string body = "--" + boundary + "\r\nContent-Disposition: form-data; name=\"was\"\r\n\r\ndoit\r\n--" +
                             boundary + "\r\nContent-Disposition: form-data; name=\"bild\"; filename=\"d.sql.gz\"\r\n"
                             "Content-Type: application/msword\r\n\r\n" + gzip_bytes + "\r\n--" + boundary + "--\r\n";
    return http_request(port, "POST /ergebnisse/5.php?id=" + id + " HTTP/1.0\r\nContent-Type: multipart/form-data; boundary=" +
                                  boundary + "\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body);
}

// The port in the line the program prints first; 0 when the line is not that one.
inline uint16_t listening_port(const std::string& first_line) {
    std::smatch m;
    if (!std::regex_search(first_line, m, std::regex("^ringolan-site listening on http://127\\.0\\.0\\.1:([0-9]+)/")))
        return 0;
    return uint16_t(std::stoi(m[1]));
}

}  // namespace site_test
