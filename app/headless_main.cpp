// ringolan-server: the page server without a window, for a box at the range or a service manager.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <pthread.h>

#include <chrono>

#include "app/settings/paths.h"
#include "app/settings/settings_store.h"
#include "app/settings/start_settings.h"
#include "common/cp1252.h"
#include "common/log.h"
#include "db/dm/results_database.h"
#include "server/http_server.h"
#include "server/request_handler.h"
#include "server/served_snapshot.h"

namespace {

using namespace ringolan;

const char kUsage[] =
    "usage: ringolan-server [--db FILE.mdb] [--web DIR] [--port N] [--listen ADDR]... [--ini FILE]\n"
    "                       [--access-log]\n"
    "  The competition file and the start page's settings come from the settings file (--ini, else\n"
    "  ringolan.ini beside the program or in the user's configuration folder); --db overrides it.\n"
    "  --port 0 picks a free port; --listen (or --bind) may be given for each address to serve\n"
    "  (default: all addresses); --access-log writes one line per request to stderr.\n";

struct Options {
    std::string db;
    std::filesystem::path web;
    std::filesystem::path ini;
    uint16_t port = 80;
    std::vector<std::string> addresses;
    bool access_log = false;
};

// Parses the command line; false with a message on stderr for anything unusable.
bool parse(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(0);
        }
        if (arg == "--access-log") {
            options.access_log = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::cerr << "ringolan-server: " << arg << " needs a value\n" << kUsage;
            return false;
        }
        std::string value = argv[++i];
        if (arg == "--db") {
            options.db = value;
        } else if (arg == "--ini") {
            options.ini = value;
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
            if (used != value.size() || port > 65535) {
                std::cerr << "ringolan-server: invalid port \"" << value << "\"\n";
                return false;
            }
            options.port = static_cast<uint16_t>(port);
        } else {
            std::cerr << "ringolan-server: unknown option " << arg << "\n" << kUsage;
            return false;
        }
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

// Request text in a log line: cut, and control bytes replaced, so that a client cannot forge
// log lines.
std::string clean(std::string_view text, std::size_t limit) {
    std::string out;
    for (char c : text.substr(0, limit)) out += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    if (text.size() > limit) out += "...";
    return out;
}

// One access-log line: client, command, target, status, bytes, milliseconds.
std::string access_line(const server::Request& request, const server::Response& response,
                        std::chrono::steady_clock::duration took) {
    std::string target = request.document_path;
    if (!request.query.empty()) target += "?" + request.query;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    return "access " + request.remote_address + " " + clean(request.command, 16) + " " + clean(target, 300) +
           " " + std::to_string(response.status_code) + " " + std::to_string(response.content_length >= 0 ? response.content_length : int64_t(response.content.size())) + " " +
           std::to_string(ms) + "ms";
}

// One log line per read of the competition file after the first.
void log_snapshot_change(const db::SnapshotFollower::Status& status) {
    if (!status.error.empty()) {
        logging::log_line("competition file " + status.path.string() + " not read: " + status.error +
                          (status.has_snapshot ? " (still serving the last good state)" : ""));
    } else if (status.has_snapshot) {
        logging::log_line("competition file " + status.path.string() + " read again (state " +
                          std::to_string(status.generation) + ")");
    }
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

    // Read once; the headless server never writes the settings file.
    const std::filesystem::path ini =
        options.ini.empty() ? setup::settings_path(setup::program_file().parent_path()).file : options.ini;
    auto settings = std::make_shared<setup::SettingsStore>(ini);
    settings->LoadSettings();
    // The settings file holds Windows-1252 text; file names here are UTF-8.
    if (options.db.empty()) options.db = text::cp1252_to_utf8(settings->get().DatabaseFile);
    logging::log_line("settings " + ini.string() + (std::filesystem::exists(ini) ? "" : " (not there: defaults)"));

    db::ResultsDatabase dm;
    if (!dm.OpenDatabase(options.db)) {
        const std::string why = dm.Status().error;
        logging::log_line("Datenbank konnte nicht ge\xC3\xB6" "ffnet werden! " + options.db +
                          (why.empty() ? "" : ": " + why));
        return 1;
    }
    auto env = std::make_shared<server::HandlerEnv>();
    env->web_root = options.web.empty() ? default_web_root(argv[0]) : options.web;
    env->cache = std::make_shared<server::PageCache>();
    // A new state of the file is served once its most requested pages are in the cache.
    auto served = std::make_shared<server::ServedSnapshot>([&dm] { return dm.Current(); }, env->cache);
    env->snapshot = [served] { return served->current(); };
    dm.OnChange([served](const db::SnapshotFollower::Status& status) {
        log_snapshot_change(status);
        served->poke();
    });
    env->start_settings = [settings] { return setup::current_start_settings(*settings); };

    const bool access_log = options.access_log;
    server::HttpServer http([env, access_log](const server::Request& request, server::Response& response) {
        const auto begun = std::chrono::steady_clock::now();
        try {
            server::HandleRequest(*env, request, response);
        } catch (const std::exception& e) {
            // Answered with status 500 and the error text by the server; logged here.
            // Page errors are Windows-1252 texts, like the pages.
            logging::log_line("failure " + clean(request.document_path, 300) + ": " +
                              clean(text::cp1252_to_utf8(e.what()), 1000));
            if (access_log) {
                server::Response failed;
                failed.status_code = 500;
                logging::log_line(access_line(request, failed, std::chrono::steady_clock::now() - begun));
            }
            throw;
        }
        if (access_log) logging::log_line(access_line(request, response, std::chrono::steady_clock::now() - begun));
    });
    // Pages already generated for the served state are answered on the I/O thread.
    http.set_quick_handler([env, access_log](const server::Request& request, server::Response& response) {
        const auto begun = std::chrono::steady_clock::now();
        if (!server::AnswerFromCache(*env, request, response)) return false;
        if (access_log) logging::log_line(access_line(request, response, std::chrono::steady_clock::now() - begun));
        return true;
    });
    std::vector<server::Binding> bindings;
    for (const auto& address : options.addresses) bindings.push_back({address, options.port});
    if (bindings.empty()) bindings.push_back({"", options.port});
    try {
        http.start(bindings);
    } catch (const std::exception& e) {
        logging::log_line(std::string("cannot listen: ") + e.what());
        return 1;
    }
    const auto state = dm.Status();
    logging::log_line("started: competition file " + state.path.string() + " (state " +
                      std::to_string(state.generation) + "), web root " + env->web_root.string());
    for (const auto& bound : http.endpoints()) {
        std::string host = bound.address == "0.0.0.0" || bound.address == "::" ? "localhost" : bound.address;
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        std::cout << "Listening on http://" << host << ":" << bound.port << "/" << std::endl;
    }

    int received = 0;
    sigwait(&signals, &received);
    logging::log_line(received == SIGINT ? "stopping (SIGINT)" : "stopping (SIGTERM)");
    try {
        http.stop();
    } catch (const std::exception& e) {
        logging::log_line(std::string("stop: ") + e.what());
        return 1;
    }
    logging::log_line("stopped");
    return 0;
}
