// ringolan-upload --follow --db FILE.mdb --url BASE --id ID [--password-file F] [--filter all|results]
//                 [--interval MS] [--insecure] [--trace FILE]
// The trace has one line per batch: acknowledged and file modification time (ms since 1970),
// sequence, lines deleted and inserted, attempts, ms preparing and ms sending.
// Prints one line per batch the site acknowledged; notes (retries, unreadable states) go to
// standard error. Runs until SIGINT or SIGTERM (exit 0); 1 when publishing cannot go on.
#include "upload/live_main.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <optional>
#include <string>
#include <thread>

#include "common/cli.h"
#include "common/cp1252.h"
#include "common/number.h"
#include "upload/live_publisher.h"

namespace ringolan::upload {

namespace {

const char kUsage[] =
    "usage: ringolan-upload --follow --db FILE.mdb --url BASE --id ID [--password-file F | password on stdin]\n"
    "                       [--filter all|results] [--interval MS] [--insecure] [--trace FILE]\n";

struct FollowOptions {
    std::string db, url, id, password_file, trace, filter = "all";
    bool have_id = false, insecure = false;
    unsigned long interval_ms = 1000;
};

int usage(const std::string& problem) {
    std::cerr << "ringolan-upload: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
}

std::optional<int> parse(int argc, char** argv, FollowOptions& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (const auto standard = cli::standard_option(arg); standard != cli::StandardOption::none)
            return cli::answer(standard, "ringolan-upload", kUsage);
        if (arg == "--follow") continue;
        if (arg == "--insecure") {
            o.insecure = true;
            continue;
        }
        if (arg != "--db" && arg != "--url" && arg != "--id" && arg != "--password-file" && arg != "--filter" &&
            arg != "--interval" && arg != "--trace")
            return usage("unknown argument " + arg + " (with --follow)");
        if (i + 1 >= argc) return usage(arg + " needs a value");
        const std::string v = argv[++i];
        if (arg == "--db") o.db = v;
        else if (arg == "--url") o.url = v;
        else if (arg == "--id") o.id = v, o.have_id = true;
        else if (arg == "--password-file") o.password_file = v;
        else if (arg == "--filter") o.filter = v;
        else if (arg == "--trace") o.trace = v;
        else if (const auto ms = text::parse_number<unsigned long>(v); ms && *ms <= 3600000) o.interval_ms = *ms;
        else return usage("bad --interval " + v);
    }
    if (o.db.empty()) return usage("--db is missing");
    if (o.url.empty()) return usage("--url is missing");
    if (!o.have_id) return usage("--id is missing");
    if (o.filter != "all" && o.filter != "results") return usage("--filter must be all or results");
    return std::nullopt;
}

std::optional<std::string> read_password(const FollowOptions& o) {
    std::string line;
    if (!o.password_file.empty()) {
        std::ifstream in(o.password_file, std::ios::binary);
        if (!in) return std::nullopt;
        std::getline(in, line);
    } else {
        std::getline(std::cin, line);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

long long epoch_ms(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
}

void print_batch(const BatchReport& r, std::FILE* trace) {
    std::string line = "Stapel " + std::to_string(r.sequence) + ": " + std::to_string(r.tables) + " Tabellen, " +
                       std::to_string(r.deleted) + " gel\xC3\xB6scht, " + std::to_string(r.inserted) +
                       " eingef\xC3\xBCgt, " + std::to_string(r.elapsed.count()) + " ms";
    if (r.full) line += " (neuer Stream)";
    if (r.duplicate) line += " (war schon eingetragen)";
    std::cout << line << std::endl;
    if (trace) {
        std::fprintf(trace, "%lld %lld %lld %zu %zu %d %lld %lld\n", epoch_ms(r.acknowledged), epoch_ms(r.file_time),
                     static_cast<long long>(r.sequence), r.deleted, r.inserted, r.attempts,
                     static_cast<long long>(r.prepared.count()), static_cast<long long>(r.elapsed.count()));
        std::fflush(trace);
    }
}

}  // namespace

bool wants_follow(int argc, char** argv) {
    for (int i = 1; i < argc; ++i)
        if (std::string_view(argv[i]) == "--follow") return true;
    return false;
}

int follow_main(int argc, char** argv) {
    FollowOptions o;
    if (const auto bad = parse(argc, argv, o)) return *bad;
    const std::optional<std::string> password = read_password(o);
    if (!password) return usage("cannot read the password file " + o.password_file);
    std::FILE* trace = nullptr;
    if (!o.trace.empty() && !(trace = std::fopen(o.trace.c_str(), "w"))) return usage("cannot write " + o.trace);

    LiveSettings settings;
    settings.base = o.url;
    settings.account_id = text::utf8_to_cp1252(o.id);
    settings.password = text::utf8_to_cp1252(*password);
    settings.filter = o.filter == "results" ? StarterFilter::WithResults : StarterFilter::All;
    settings.database = o.db;
    settings.interval = std::chrono::milliseconds(o.interval_ms);
    settings.insecure = o.insecure;
    LiveEvents events;
    events.acknowledged = [trace](const BatchReport& r) { print_batch(r, trace); };
    events.status = [](const std::string& l) { std::cerr << "ringolan-upload: " << text::cp1252_to_utf8(l) << std::endl; };
    LivePublisher publisher(std::move(settings), std::move(events));

    // SIGINT and SIGTERM end the publishing; taken by sigwait on a thread of their own.
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
    std::thread waiter([&] {
        int signal = 0;
        sigwait(&stop, &signal);
        publisher.cancel();
    });
    int code = 0;
    try {
        publisher.run();
    } catch (const std::exception& e) {
        std::cerr << "ringolan-upload: " << text::cp1252_to_utf8(e.what()) << std::endl;
        code = 1;
    }
    ::kill(::getpid(), SIGTERM);  // ends the waiter when the run ended on its own
    waiter.join();
    if (trace) std::fclose(trace);
    return code;
}

}  // namespace ringolan::upload
