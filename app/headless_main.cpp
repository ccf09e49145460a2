// ringolan-server: the page server without a window, for a box at the range or a service manager.
#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include <pthread.h>

#include "app/settings/paths.h"
#include "app/settings/settings_store.h"
#include "app/settings/start_settings.h"
#include "common/cli.h"
#include "common/cp1252.h"
#include "common/log.h"
#include "db/dm/results_database.h"
#include "server/page_service.h"

namespace {

using namespace ringolan;

const char kUsage[] =
    "usage: ringolan-server [--db FILE.mdb] [--web DIR] [--port N] [--listen ADDR]... [--ini FILE]\n"
    "                       [--access-log]\n"
    "  The competition file and the start page's settings come from the settings file (--ini, else\n"
    "  ringolan.ini beside the program or in the user's configuration folder); --db overrides it.\n"
    "  --port 0 picks a free port; --listen (or --bind) may be given for each address to serve\n"
    "  (default: all addresses); --access-log writes one line per request to stderr.\n";

const std::string kHelp = std::string(kUsage) +
    "The page server without a window: serves the result pages of a competition file over HTTP and\n"
    "reads the file again whenever it changes. Runs until SIGINT or SIGTERM. Log lines go to\n"
    "standard error, with a time stamp unless standard error is the systemd journal.\n"
    "\n"
    "Options:\n"
    "  --db FILE.mdb    the competition file (default: the one of the settings file)\n"
    "  --web DIR        the web root (default: the folder Web beside the program)\n"
    "  --port N         the port to serve on (default 80; 0 picks a free port)\n"
    "  --listen ADDR    an address to serve on, may be repeated (also --bind; default: all)\n"
    "  --ini FILE       the settings file\n"
    "  --access-log     one log line per request\n"
    "  -h, --help       show this help and exit\n"
    "  --version        show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-server --db demo.mdb --port 8080\n"
    "  $ ringolan-server --ini ringolan.ini --listen 127.0.0.1 --listen ::1\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by SIGINT or SIGTERM\n"
    "  1  the competition file could not be opened, or an address could not be bound\n"
    "  2  usage error\n";

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
        if (const auto standard = cli::standard_option(arg); standard != cli::StandardOption::none)
            std::exit(cli::answer(standard, "ringolan-server", kHelp));
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

// The folder "Web" beside the program, else the installed one (setup::web_root).
std::filesystem::path default_web_root(const char* argv0) {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) exe = std::filesystem::absolute(argv0, ec);
    return setup::web_root(exe.parent_path());
}

// One log line per new state of the competition file after the first, and per failed read.
void log_snapshot_change(const db::SnapshotFollower::Status& status) {
    static uint64_t logged_generation = 0;  // called on the follower's thread only
    if (status.error.empty() && status.generation == logged_generation) return;  // read, unchanged
    logged_generation = status.generation;
    if (!status.error.empty()) {
        logging::log_line("competition file " + status.path.string() + " not read: " + status.error +
                          (status.has_snapshot ? " (still serving the last good state)" : ""));
    } else if (status.has_snapshot) {
        std::string how = status.whole_read ? "whole file" : "tables";
        for (size_t i = 0; !status.whole_read && i < status.changed_tables.size(); ++i) {
            const std::string& table = status.changed_tables[i];
            how += (i ? ", " : " ") + table;
            for (const db::TableKeys& k : status.changed_keys)
                if (k.table == table) how += " (" + std::to_string(k.values.size()) + " " + k.column + ")";
        }
        if (!status.whole_read && status.changed_tables.empty()) how = "no table changed";
        logging::log_line("competition file " + status.path.string() + " read again (state " +
                          std::to_string(status.generation) + ", " + how + ", " +
                          std::to_string(status.read_time.count()) + " ms)");
    }
}

// SIGINT and SIGTERM are taken by sigwait; blocked before any thread starts. An ignored signal
// (SIGINT of a background job) would be discarded instead of waiting, so reset first.
sigset_t block_stop_signals() {
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    return signals;
}

// Read once; the headless server never writes the settings file.
std::shared_ptr<setup::SettingsStore> load_settings(Options& options) {
    const std::filesystem::path ini =
        options.ini.empty() ? setup::settings_path(setup::program_file().parent_path()).file : options.ini;
    auto settings = std::make_shared<setup::SettingsStore>(ini);
    settings->LoadSettings();
    // The settings file holds Windows-1252 text; file names here are UTF-8.
    if (options.db.empty()) options.db = text::cp1252_to_utf8(settings->get().DatabaseFile);
    logging::log_line("settings " + ini.string() + (std::filesystem::exists(ini) ? "" : " (not there: defaults)"));
    return settings;
}

// Binds every address; false with a log line when one cannot be bound.
bool listen(server::HttpServer& http, const Options& options) {
    std::vector<server::Binding> bindings;
    for (const auto& address : options.addresses) bindings.push_back({address, options.port});
    if (bindings.empty()) bindings.push_back({"", options.port});
    try {
        http.start(bindings);
    } catch (const std::exception& e) {
        logging::log_line(std::string("cannot listen: ") + e.what());
        return false;
    }
    for (const auto& bound : http.endpoints()) {
        std::string host = bound.address == "0.0.0.0" || bound.address == "::" ? "localhost" : bound.address;
        if (host.find(':') != std::string::npos) host = "[" + host + "]";
        std::cout << "Listening on http://" << host << ":" << bound.port << "/" << std::endl;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    Options options;
    if (!parse(argc, argv, options)) return cli::kExitUsage;
    sigset_t signals = block_stop_signals();
    const auto settings = load_settings(options);

    db::ResultsDatabase dm;
    if (!dm.OpenDatabase(options.db)) {
        const std::string why = dm.Status().error;
        logging::log_line("Datenbank konnte nicht ge\xC3\xB6" "ffnet werden! " + options.db +
                          (why.empty() ? "" : ": " + why));
        return 1;
    }
    server::PageService service({.web_root = options.web.empty() ? default_web_root(argv[0]) : options.web,
                                 .latest = [&dm] { return dm.Current(); },
                                 .start_settings = [settings] { return setup::current_start_settings(*settings); },
                                 .on_page = {},
                                 .access_log = options.access_log});
    dm.OnChange([notify = service.state_notifier()](const db::SnapshotFollower::Status& status) {
        log_snapshot_change(status);
        notify();
    });
    const auto http = service.make_server();
    if (!listen(*http, options)) return 1;
    const auto state = dm.Status();
    logging::log_line("started: competition file " + state.path.string() + " (state " +
                      std::to_string(state.generation) + "), web root " + service.env().web_root.string());

    int received = 0;
    sigwait(&signals, &received);
    logging::log_line(received == SIGINT ? "stopping (SIGINT)" : "stopping (SIGTERM)");
    try {
        http->stop();
    } catch (const std::exception& e) {
        logging::log_line(std::string("stop: ") + e.what());
        return 1;
    }
    const auto stats = service.stats();
    logging::log_line("new states: " + std::to_string(stats.warmed_states) + " warmed (" +
                      std::to_string(stats.warmed_pages) + " pages made), " + std::to_string(stats.held_out) +
                      " held out; " + std::to_string(stats.carried_pages) + " cached pages carried over");
    logging::log_line("stopped");
    return 0;
}
