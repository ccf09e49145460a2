// ringolan-upload: publishes a competition file to the results site without a window.
//   ringolan-upload --db FILE.mdb --url BASE --id ID [--password-file F] [--filter all|results]
//                   [--work-dir DIR] [--keep-dumps] [--verbose] [--stats]
// The password is the first line of F, or of standard input without --password-file. The log
// lines go to standard output as each is complete; the exit code is 0 only when every table
// was loaded and counted by the site, 1 when the run failed and 2 for bad arguments. --stats
// prints the time, the bytes posted and the peak memory to standard error at the end.

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "common/cli.h"
#include "common/cp1252.h"
#include "common/log.h"
#include "common/error.h"
#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_child.h"
#include "platform/process.h"
#include "upload/live_main.h"
#include "upload/upload_run.h"

using namespace ringolan;
namespace fs = std::filesystem;

namespace {

// Longest time for reading the competition file.
constexpr std::chrono::minutes kReadLimit{10};

const char kUsage[] =
    "usage: ringolan-upload --db FILE.mdb --url BASE --id ID [--password-file F | password on stdin]\n"
    "                       [--filter all|results] [--work-dir DIR] [--keep-dumps] [--verbose] [--stats]\n";

const std::string kHelp = std::string(kUsage) +
    "Publishes a competition file to the results site without a window: reads the file, sends each\n"
    "table and checks that the site counted its rows. The log goes to standard output line by line.\n"
    "\n"
    "Options:\n"
    "  --db FILE.mdb         the competition file\n"
    "  --url BASE            the site's address, e.g. https://results.example.org/\n"
    "  --id ID               the account on the site\n"
    "  --password-file F     the password is the first line of F (else of standard input)\n"
    "  --filter all|results  all shooters (default) or only those with results\n"
    "  --work-dir DIR        the folder for the table files (default: beside the program)\n"
    "  --keep-dumps          keep each table's statement lines as d<ID>.<table>.sql there\n"
    "  --verbose             notes of the run to standard error\n"
    "  --stats               time, bytes posted and peak memory to standard error at the end\n"
    "  --follow              publish live instead: follow the file and send only what changed,\n"
    "                        one line per batch, until SIGINT or SIGTERM (also --interval MS,\n"
    "                        least time between batches, default 1000; --trace FILE; --insecure,\n"
    "                        allow the password over plain http to another computer)\n"
    "  -h, --help            show this help and exit\n"
    "  --version             show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-upload --db match.mdb --url https://results.example.org/ --id club1 --password-file pw.txt\n"
    "\n"
    "Exit status:\n"
    "  0  every table was loaded and counted by the site\n"
    "  1  the upload failed\n"
    "  2  usage error, or the password file cannot be read\n";

int usage(const std::string& problem) {
    std::cerr << "ringolan-upload: " << problem << "\n" << kUsage;
    return cli::kExitUsage;
}

std::string first_line(std::istream& in) {
    std::string line;
    std::getline(in, line);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

fs::path program_dir() {
    const fs::path exe = platform::running_program();
    return exe.empty() ? fs::current_path() : exe.parent_path();
}

// The log as the window shows it, printed line by line once a line can no longer change.
class PrintedLog {
public:
    void append(const std::string& line) {
        flush();
        pending_ = line;
    }
    void replace_last(const std::string& line) { pending_ = line; }
    void flush() {
        if (pending_) std::cout << text::cp1252_to_utf8(*pending_) << std::endl;
        pending_.reset();
    }

private:
    std::optional<std::string> pending_;
};

// Time spent in each step of the tables, from one log event to the next, in all and per table.
class StepTimes {
public:
    void event(const std::string& line) {
        const auto now = std::chrono::steady_clock::now();
        const std::string table = table_of(line);
        if (!current_.empty()) {
            const double s = std::chrono::duration<double>(now - since_).count();
            seconds_[current_] += s;
            // a wait ends with the first line of the table waited for
            const std::string& owner = current_ == "wait" ? table : table_;
            if (!owner.empty()) {
                if (tables_.empty() || tables_.back().first != owner) tables_.emplace_back(owner, Steps{});
                tables_.back().second[current_] += s;
            }
        }
        current_ = step_of(line);
        table_ = table;
        since_ = now;
    }
    void print(std::ostream& out) {
        event("");
        out << "stats: steps";
        print_steps(out, seconds_, {"wait", "dump", "gzip", "post", "load", "count"});
        for (auto& [table, steps] : tables_) {  // dump and gzip are only log lines now
            out << "stats: table " << table << ":";
            print_steps(out, steps, {"wait", "post", "load", "count"});
        }
    }

private:
    using Steps = std::map<std::string, double>;
    static void print_steps(std::ostream& out, Steps& steps, std::initializer_list<const char*> names) {
        for (const char* step : names) out << " " << step << " " << steps[step] << " s";
        out << std::endl;
    }
    static std::string table_of(const std::string& line) {
        const size_t end = line.find("-Daten");
        return end == std::string::npos ? std::string() : line.substr(0, end);
    }
    static std::string step_of(const std::string& line) {
        if (line.find("zwischenspeichern") != std::string::npos) return "dump";
        if (line.find("komprimieren") != std::string::npos) return "gzip";
        if (line.find("hochladen (") != std::string::npos) return "post";
        if (line.find("eintragen") != std::string::npos) return "load";
        if (line.find("pr\xFC" "fen") != std::string::npos) return "count";
        // after the delete and after each table: waiting for the table dumped and packed ahead
        if (line.find("OK") != std::string::npos) return "wait";
        return {};
    }
    Steps seconds_;
    std::vector<std::pair<std::string, Steps>> tables_;
    std::string current_, table_;
    std::chrono::steady_clock::time_point since_;
};

long peak_kib() { return platform::peak_memory_kib(); }

struct Options {
    std::string db_file, url, id, password_file, filter = "all";
    fs::path work_dir = program_dir();
    bool have_id = false, verbose = false, stats = false, keep_dumps = false;
};

// The options, or the exit code of a usage error (after its message).
std::optional<int> parse_options(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (const auto standard = cli::standard_option(arg); standard != cli::StandardOption::none)
            return cli::answer(standard, "ringolan-upload", kHelp);
        if (arg == "--verbose" || arg == "--stats" || arg == "--keep-dumps") {
            (arg == "--verbose" ? o.verbose : arg == "--stats" ? o.stats : o.keep_dumps) = true;
            continue;
        }
        if (arg != "--db" && arg != "--url" && arg != "--id" && arg != "--password-file" && arg != "--filter" &&
            arg != "--work-dir")
            return usage("unknown argument " + arg);
        if (i + 1 >= argc) return usage(arg + " needs a value");
        const std::string value = argv[++i];
        if (arg == "--db") o.db_file = value;
        else if (arg == "--url") o.url = value;
        else if (arg == "--id") o.id = value, o.have_id = true;
        else if (arg == "--password-file") o.password_file = value;
        else if (arg == "--filter") o.filter = value;
        else o.work_dir = value;
    }
    if (o.db_file.empty()) return usage("--db is missing");
    if (o.url.empty()) return usage("--url is missing");
    if (!o.have_id) return usage("--id is missing");
    if (o.filter != "all" && o.filter != "results") return usage("--filter must be all or results");
    return std::nullopt;
}

// The request with the password from its file or standard input, or the exit code of a usage
// error (after its message).
std::optional<int> make_request(const Options& o, upload::UploadRequest& request) {
    std::string password;
    if (!o.password_file.empty()) {
        std::ifstream in(o.password_file, std::ios::binary);
        if (!in) return usage("cannot read the password file " + o.password_file);
        password = first_line(in);
    } else {
        password = first_line(std::cin);
    }
    request.base = o.url;
    request.account_id = text::utf8_to_cp1252(o.id);
    request.password = text::utf8_to_cp1252(password);
    request.filter = o.filter == "results" ? upload::StarterFilter::WithResults : upload::StarterFilter::All;
    request.work_dir = o.work_dir;
    request.keep_dumps = o.keep_dumps;
    request.database = o.db_file;
    return std::nullopt;
}

// Log lines to standard output (and to the step times with --stats), notes to standard error
// with --verbose.
upload::UploadEvents printed_events(const Options& o, PrintedLog& log, StepTimes& steps) {
    upload::UploadEvents events;
    const bool stats = o.stats;
    events.append = [&log, &steps, stats](const std::string& l) {
        log.append(l);
        if (stats) steps.event(l);
    };
    events.replace_last = [&log, &steps, stats](const std::string& l) {
        log.replace_last(l);
        if (stats) steps.event(l);
    };
    if (o.verbose) events.note = [](const std::string& l) { logging::log_line(text::cp1252_to_utf8(l)); };
    return events;
}

// Reads the file in a child process, as the server does (a damaged file cannot take the upload
// down, and the reading's memory is the child's), and publishes it. The exit code.
int read_and_upload(const Options& o, const upload::UploadRequest& request, const upload::UploadEvents& events,
                    PrintedLog& log, StepTimes& steps) {
    const auto started = std::chrono::steady_clock::now();
    long child_peak = 0;
    try {
        db::SnapshotInfo info;
        info.source = o.db_file;
        info.generation = 1;
        db::BuildOptions read_options;
        read_options.only_indexes = upload::upload_indexes();
        db::BuildResult built = db::build_snapshot_isolated(o.db_file, kReadLimit, read_options);
        if (!built.ok()) throw ringolan::Error(built.error);
        child_peak = built.child_peak_kib;
        const auto snapshot = db::Snapshot::from_image(std::move(built.image), info);
        upload::HttpClient client;
        upload::UploadRun run(client, events);
        const auto read = std::chrono::steady_clock::now();
        run.run(request, *snapshot);
        log.flush();
        if (o.stats) {
            const auto done = std::chrono::steady_clock::now();
            auto secs = [](auto d) { return std::chrono::duration<double>(d).count(); };
            std::cerr << "stats: read " << secs(read - started) << " s, upload " << secs(done - read) << " s, total "
                      << secs(done - started) << " s, cpu " << double(std::clock()) / CLOCKS_PER_SEC
                      << " s (this process), posted " << run.bytes_posted() << " bytes, peak "
                      << peak_kib() << " KiB (reading child " << child_peak << " KiB)" << std::endl;
            steps.print(std::cerr);
        }
        return 0;
    } catch (const std::exception& e) {
        log.flush();
        std::cerr << "ringolan-upload: " << text::cp1252_to_utf8(e.what()) << std::endl;
        return 1;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (upload::wants_follow(argc, argv)) return upload::follow_main(argc, argv);
    Options options;
    if (const std::optional<int> bad = parse_options(argc, argv, options)) return *bad;
    upload::UploadRequest request;
    if (const std::optional<int> bad = make_request(options, request)) return *bad;
    PrintedLog log;
    StepTimes steps;
    const upload::UploadEvents events = printed_events(options, log, steps);
    return read_and_upload(options, request, events, log, steps);
}
