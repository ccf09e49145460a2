// Runs the headless server program as a child process and talks to it over raw sockets.
#pragma once

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ringolan::test_app {

// A blocking loopback TCP client.
class RawClient {
public:
    explicit RawClient(uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool connected() const { return fd_ >= 0; }
    // False when the peer has closed or reset the connection.
    bool send(std::string_view bytes);
    void shutdown_write();
    // Everything until the peer closes (or the time limit passes).
    std::string receive_all(std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Up to n bytes (fewer when the peer closes first).
    std::string receive_some(std::size_t n, std::chrono::milliseconds limit = std::chrono::seconds(20));
    // Closes with a reset instead of an orderly close.
    void reset();
    int fd() const { return fd_; }

private:
    int fd_ = -1;
};

// Sends a request and returns the whole answer.
std::string exchange(uint16_t port, std::string_view request);

class ServerProcess {
public:
    // Starts the program with the arguments; waits for its "Listening on" line. Throws when it
    // exits before that (exit_code() and log() then tell why).
    explicit ServerProcess(std::vector<std::string> args, std::chrono::seconds start_limit = std::chrono::seconds(60));
    ~ServerProcess();  // kills it if still running

    uint16_t port() const { return port_; }
    // Sends the signal and waits for the exit; the exit code, or nullopt when it did not end
    // within the limit (it is then killed).
    std::optional<int> stop(int signal, std::chrono::milliseconds limit);
    bool running();
    std::string log() const;  // what the program wrote to stderr so far

    static std::filesystem::path program();

private:
    int pid_ = -1;
    uint16_t port_ = 0;
    std::filesystem::path log_file_;
};

// Runs the program to its end (for failures at start); returns exit code and stderr.
struct Finished {
    int exit_code = -1;
    std::string err;
};
Finished run_to_end(std::vector<std::string> args, std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace ringolan::test_app
