// ringolan-server: the page server without a window, for a box at the range or a service manager.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <pthread.h>

#include "db/dm/data_module.h"
#include "server/http_server.h"
#include "server/request_handler.h"

namespace {

using namespace ringolan;

const char kUsage[] = "usage: ringolan-server --db FILE.mdb [--web DIR] [--port N] [--bind ADDR]...\n";

struct Options {
    std::string db;
    std::filesystem::path web;
    uint16_t port = 80;
    std::vector<std::string> addresses;
};

// Parses the command line; false with a message on stderr for anything unusable.
bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (i + 1 >= argc) {
            std::cerr << "ringolan-server: " << arg << " needs a value\n" << kUsage;
            return false;
        }
        std::string value = argv[++i];
        if (arg == "--db") {
            options.db = value;
        } else if (arg == "--web") {
            options.web = value;
        } else if (arg == "--bind" || arg == "--listen") {
            options.addresses.push_back(value);
        } else if (arg == "--port") {
            std::size_t used = 0;
            unsigned long port = 0;
            try {
                port = std::stoul(value, &used);
            } catch (const std::exception&) {
                used = 0;
            }
            if (used != value.size() || port == 0 || port > 65535) {
                std::cerr << "ringolan-server: invalid port \"" << value << "\"\n";
                return false;
            }
            options.port = static_cast<uint16_t>(port);
        } else {
            std::cerr << "ringolan-server: unknown option " << arg << "\n" << kUsage;
            return false;
        }
    }
    if (options.db.empty()) {
        std::cerr << kUsage;
        return false;
    }
    return true;
}

// The folder "Web" beside the program.
std::filesystem::path default_web_root(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return exe.parent_path() / "Web";
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return 2;

    // SIGINT and SIGTERM are taken by sigwait below; blocked before any thread starts. An ignored
    // signal (SIGINT of a background job) would be discarded instead of waiting, so reset first.
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    db::TDM dm;
    if (!dm.OpenDatabase(options.db)) {
        std::cerr << "Datenbank konnte nicht geöffnet werden!\n";
        return 1;
    }

    auto env = std::make_shared<server::HandlerEnv>();
    env->web_root = options.web.empty() ? default_web_root(argv[0]) : options.web;
    env->snapshot = [&dm] { return dm.Current(); };

    server::HttpServer http(
        [env](const server::Request& request, server::Response& response) {
            server::HandleRequest(*env, request, response);
        });
    std::vector<server::Binding> bindings;
    for (const auto& address : options.addresses) bindings.push_back({address, options.port});
    if (bindings.empty()) bindings.push_back({"", options.port});
    try {
        http.start(bindings);
    } catch (const std::exception& e) {
        std::cerr << "ringolan-server: " << e.what() << "\n";
        return 1;
    }
    std::cerr << "ringolan-server: " << options.db << ", web root " << env->web_root.string() << "\n";
    for (const auto& bound : http.endpoints()) {
        std::string host = bound.address == "0.0.0.0" ? "localhost" : bound.address;
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        std::cout << "Listening on http://" << host << ":" << bound.port << "/" << std::endl;
    }

    int received = 0;
    sigwait(&signals, &received);
    std::cerr << "ringolan-server: stopping\n";
    try {
        http.stop();
    } catch (const std::exception& e) {
        std::cerr << "ringolan-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}
