// ringolan-page --db FILE.mdb 'PATH?QUERY': one page of a competition file, as the server
// would answer it. The page bytes go to standard output, the status line to standard error.
#include <cstdio>
#include <chrono>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

#include "common/cli.h"
#include "common/error.h"
#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_child.h"
#include "server/dispatcher.h"
#include "server/request_target.h"

namespace fs = std::filesystem;

namespace {

constexpr std::chrono::seconds kBuildLimit{120};

const char kUsage[] = "usage: ringolan-page --db FILE.mdb 'PATH?QUERY'   (for example '/vstbl.php' or '/vst.php?NR=7')\n";

const std::string kHelp = std::string(kUsage) +
    "Writes one page of a competition file to standard output, as the server would answer the\n"
    "address, and its HTTP status line to standard error.\n"
    "\n"
    "Options:\n"
    "  --db FILE.mdb  the competition file (also --db=FILE.mdb)\n"
    "  PATH?QUERY     the page's address below the server's root\n"
    "  -h, --help     show this help and exit\n"
    "  --version      show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-page --db demo.mdb /vstbl.php > vstbl.html\n"
    "  $ ringolan-page --db demo.mdb '/vst.php?NR=7' > vst7.html\n"
    "\n"
    "Exit status:\n"
    "  0  the page was written (whatever its HTTP status)\n"
    "  1  the page failed (500) or could not be written\n"
    "  2  usage error, or the competition file cannot be read\n";

int usage(const std::string& why) {
    if (!why.empty()) std::cerr << "ringolan-page: " << why << "\n";
    std::cerr << kUsage;
    return ringolan::cli::kExitUsage;
}

// One line: line breaks of a message become blanks.
std::string one_line(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    return text;
}

std::shared_ptr<const ringolan::db::Snapshot> load(const fs::path& file) {
    ringolan::db::SnapshotInfo info;
    info.source = file;
    info.generation = 1;
    info.size = fs::file_size(file);
    info.mtime = fs::last_write_time(file);
    // In a child process: a damaged file that crashes or hangs libmdb ends with a message.
    ringolan::db::BuildResult built = ringolan::db::build_snapshot_isolated(file, kBuildLimit);
    if (!built.ok()) throw ringolan::Error(built.error);
    info.build_time = built.elapsed;
    return ringolan::db::Snapshot::from_image(std::move(built.image), std::move(info));
}

}  // namespace

int main(int argc, char** argv) {
    std::string db, target;
    bool have_target = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--db") {
            if (i + 1 >= argc) return usage("--db needs a file name");
            db = argv[++i];
        } else if (a.rfind("--db=", 0) == 0) {
            db = a.substr(5);
        } else if (const auto standard = ringolan::cli::standard_option(a); standard != ringolan::cli::StandardOption::none) {
            return ringolan::cli::answer(standard, "ringolan-page", kHelp);
        } else if (!have_target && !a.starts_with("--")) {
            target = a;
            have_target = true;
        } else {
            return usage("unexpected argument " + a);
        }
    }
    if (db.empty()) return usage("no database file (--db FILE.mdb)");
    if (!have_target) return usage("no page address");

    std::error_code ec;
    if (!fs::is_regular_file(db, ec) || !std::ifstream(db, std::ios::binary)) {
        std::cerr << "ringolan-page: cannot read " << db << ": "
                  << (fs::exists(db, ec) ? "not a readable file" : "no such file") << "\n";
        return 2;
    }
    std::shared_ptr<const ringolan::db::Snapshot> snapshot;
    try {
        snapshot = load(db);
    } catch (const std::exception& e) {
        const std::string why = one_line(e.what());
        std::cerr << "ringolan-page: " << (why.find(db) == std::string::npos ? "cannot read " + db + ": " : "") << why << "\n";
        return 2;
    }

    const ringolan::server::RequestTarget request = ringolan::server::split_target(target);
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot;
    ringolan::server::PageResult page;
    try {
        page = ringolan::server::DispatchPage(ctx, request.document_path, request.query);
    } catch (const std::exception& e) {
        std::cerr << "500 " << one_line(e.what()) << "\n";
        return 1;
    }
    if (std::fwrite(page.body.data(), 1, page.body.size(), stdout) != page.body.size() || std::fflush(stdout) != 0) {
        std::cerr << "ringolan-page: cannot write the page to standard output\n";
        return 1;
    }
    std::cerr << page.status << "\n";
    return 0;
}
