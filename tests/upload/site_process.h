// A ringolan-site process for upload tests: one account, a data folder, a free loopback port.
#pragma once

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

#include "site/accounts.h"

extern char** environ;

namespace ringolan::test_upload {

class SiteProcess {
public:
    // Starts program with the account id/password, its data below dir.
    SiteProcess(const std::string& program, const std::filesystem::path& dir, const std::string& id,
                const std::string& password)
        : data_(dir / "site-data") {
        std::filesystem::create_directories(dir);
        const auto accounts = dir / "accounts.json";
        {
            std::ofstream f(accounts);
            f << R"({"accounts":[{"id":")" << id << R"(","password":")" << site::hash_password(password, 10)
              << "\"}]}";
        }
        int out[2];
        if (::pipe(out) != 0) throw std::runtime_error("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        std::vector<std::string> args{program, "--accounts", accounts.string(), "--data", data_.string(),
                                      "--port", "0", "--listen", "127.0.0.1"};
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc = posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (rc != 0) throw std::runtime_error("cannot start " + program);
        std::string line;
        char c;
        while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        out_ = out[0];
        std::smatch m;
        if (!std::regex_search(line, m, std::regex("127\\.0\\.0\\.1:([0-9]+)/")))
            throw std::runtime_error("ringolan-site said: " + line);
        port_ = std::stoi(m[1]);
    }
    ~SiteProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            int status = 0;
            ::waitpid(pid_, &status, 0);
        }
        ::close(out_);
    }
    // Ends the process at once, as a crash would: open connections break without a reply.
    void kill_now() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
    SiteProcess(const SiteProcess&) = delete;
    SiteProcess& operator=(const SiteProcess&) = delete;

    int port() const { return port_; }
    std::string base() const { return "http://127.0.0.1:" + std::to_string(port_); }
    // The account's SQLite database.
    std::filesystem::path database(const std::string& id) const { return data_ / id / "results.sqlite"; }

private:
    std::filesystem::path data_;
    pid_t pid_ = -1;
    int out_ = -1;
    int port_ = 0;
};

}  // namespace ringolan::test_upload
