// ringolan-site: the publishing site that uploads go to.
//   ringolan-site --accounts FILE --data DIR [--port N] [--listen ADDR]
//   ringolan-site --hash-password [--iterations N]   (password on stdin, hash on stdout)
// The accounts file is JSON; site/accounts.example.json holds the account "demo" (password "demo").
#include <sqlite3.h>

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>

#include "common/cli.h"
#include "common/cp1252.h"
#include "common/number.h"
#include "server/http_server.h"
#include "site/accounts.h"
#include "site/live_site.h"
#include "site/site_handler.h"
#include "site/store.h"

namespace {

using namespace ringolan;

// Largest request body (one table's gzip file in a form) and the time allowed to send it.
constexpr std::size_t kMaxUploadBytes = std::size_t(256) << 20;
constexpr std::chrono::seconds kUploadReadTimeout{300};
constexpr uint16_t kDefaultPort = 8080;

const char kUsage[] =
    "usage: ringolan-site --accounts FILE --data DIR [--database URI] [--port N] [--listen ADDR]\n"
    "       ringolan-site --hash-password [--iterations N]  (password on stdin)\n";

const std::string kHelp = std::string(kUsage) +
    "The publishing site that uploads go to: takes the tables of each account's competition and\n"
    "serves them as result pages. With --hash-password it reads a password from standard input and\n"
    "prints its hash for the accounts file instead.\n"
    "\n"
    "Options:\n"
    "  --accounts FILE   the accounts file (JSON; see accounts.example.json)\n"
    "  --data DIR        the folder of the uploaded data (created when missing)\n"
    "  --database URI    where the tables are kept: sqlite (default; files in the data folder) or\n"
    "                    a postgresql://user@host:port/name address shared by several site processes\n"
    "  --port N          the port to serve on (default 8080; 0 picks a free port)\n"
    "  --listen ADDR     the address to serve on (default 0.0.0.0)\n"
    "  --hash-password   print the hash of the password on standard input and exit\n"
    "  --iterations N    the hash's iteration count (default 100000, at most 100000000)\n"
    "  -h, --help        show this help and exit\n"
    "  --version         show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-site --accounts accounts.json --data /var/lib/ringolan-site --port 8080\n"
    "  $ echo secret | ringolan-site --hash-password\n"
    "\n"
    "Exit status:\n"
    "  0  stopped by SIGINT or SIGTERM, or the hash was printed\n"
    "  1  the accounts file, the data folder or the address could not be used\n"
    "  2  usage error\n";

int usage(const std::string& problem) {
    std::cerr << "ringolan-site: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
}

bool parse_number(const std::string& text, unsigned long max, unsigned long& out) {
    const std::optional<unsigned long> value =
        text.size() > 10 ? std::nullopt : text::parse_number<unsigned long>(text);
    if (!value) return false;
    out = *value;
    return out <= max;
}

int hash_password_command(unsigned iterations) {
    std::string password;
    std::getline(std::cin, password);
    if (!password.empty() && password.back() == '\r') password.pop_back();
    // Uploads send the password as Windows-1252 bytes.
    std::cout << site::hash_password(text::utf8_to_cp1252(password), iterations) << "\n";
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    // Without memory statistics SQLite takes no global lock for each allocation.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    std::string accounts_file, data_dir, database, listen = "0.0.0.0";
    unsigned long port = kDefaultPort, iterations = site::kDefaultHashIterations;
    bool hash_mode = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        const char* v = nullptr;
        if (const auto standard = cli::standard_option(arg); standard != cli::StandardOption::none) {
            return cli::answer(standard, "ringolan-site", kHelp);
        } else if (arg == "--hash-password") {
            hash_mode = true;
        } else if (arg == "--accounts" || arg == "--data" || arg == "--database" || arg == "--listen" || arg == "--port" ||
                   arg == "--iterations") {
            if (!(v = value())) return usage(arg + " needs a value");
            if (arg == "--accounts") accounts_file = v;
            else if (arg == "--data") data_dir = v;
            else if (arg == "--database") database = v;
            else if (arg == "--listen") listen = v;
            else if (arg == "--port" && !parse_number(v, 65535, port)) return usage("bad port " + std::string(v));
            else if (arg == "--iterations" && (!parse_number(v, 100000000, iterations) || iterations == 0))
                return usage("bad iteration count " + std::string(v));
        } else {
            return usage("unknown argument " + arg);
        }
    }
    try {
        if (hash_mode) return hash_password_command(unsigned(iterations));
        if (accounts_file.empty() || data_dir.empty()) return usage("--accounts and --data are required");

        const site::Accounts accounts = site::Accounts::load(accounts_file);
        const std::unique_ptr<site::SiteStore> store = site::open_store(database, data_dir);
        site::SiteHandler handler(accounts, *store);
        site::LiveSite live(accounts, *store);
        store->on_change([&live](const std::string& account) { live.changed(account); });
        handler.set_live_routes([&live](const server::Request& q, server::Response& r) { return live.answer(q, r); });

        // SIGINT and SIGTERM are taken by sigwait below; the server's threads inherit the mask.
        sigset_t stop_signals;
        sigemptyset(&stop_signals);
        sigaddset(&stop_signals, SIGINT);
        sigaddset(&stop_signals, SIGTERM);
        pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

        server::ServerOptions options;
        options.max_body_bytes = kMaxUploadBytes;
        options.body_timeout = kUploadReadTimeout;
        options.worker_nice = 0;  // loading uploads is this server's whole work
        server::HttpServer http([&handler](const server::Request& q, server::Response& r) { handler(q, r); }, {},
                                options);
        http.set_quick_handler([&live](const server::Request& q, server::Response& r) { return live.answer_quick(q, r); });
        http.start({server::Binding{listen, static_cast<uint16_t>(port)}});
        const server::Binding bound = http.endpoints().front();
        std::cout << "ringolan-site listening on http://" << bound.address << ":" << bound.port << "/ ("
                  << accounts.all().size() << " accounts, data in " << data_dir << ")" << std::endl;

        int signal = 0;
        sigwait(&stop_signals, &signal);
        std::cout << "ringolan-site stopping" << std::endl;
        http.stop();
        store->on_change({});  // no change is reported to the live site while it is taken down
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "ringolan-site: " << e.what() << "\n";
        return 1;
    }
}
