// ringolan-snapshot-reader FILE.mdb: the child process of build_snapshot_isolated. Reads the
// file and writes the snapshot image, or the error text, to file descriptor 3.
//
// libmdb reports a page it cannot read (a file cut short: "offset N is beyond EOF") or a
// damaged row only on stderr and goes on with what it has, which would make a snapshot with
// tables or rows missing. Its stderr is therefore captured during the build; any such report
// turns the build into an error. Everything captured is passed on to the real stderr.
#include <sqlite3.h>

#include <cstdio>
#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/cli.h"
#include "common/error.h"
#include "db/snapshot/snapshot_build.h"
#include "db/snapshot/read_loop.h"
#include "db/snapshot/snapshot_child.h"
#include "platform/heap_tuning.h"
#include "platform/process.h"

namespace {

ringolan::db::BuildOptions build_options;

std::vector<uint8_t> build_watching_stderr(const std::filesystem::path& mdb) {
    std::vector<uint8_t> image;
    const std::string error =
        ringolan::db::watch_libmdb(mdb, [&] { image = ringolan::db::build_snapshot_image(mdb, build_options); });
    if (!error.empty()) throw ringolan::Error(error);
    return image;
}

// "a.b,c.d" as its parts; an empty text names none.
std::vector<std::string> split_list(const std::string& list) {
    std::vector<std::string> parts;
    for (size_t at = 0; at < list.size();) {
        const size_t end = std::min(list.find(',', at), list.size());
        if (end > at) parts.push_back(list.substr(at, end - at));
        at = end + 1;
    }
    return parts;
}

const char kUsage[] =
    "usage: ringolan-snapshot-reader [--indexes TABLE.COLUMN,...] FILE.mdb (answer on file descriptor 3)\n"
    "       ringolan-snapshot-reader --serve FOLDER (commands and answers on file descriptor 3)\n";

const std::string kHelp = std::string(kUsage) +
    "Reads a competition file for the servers and the upload, which start it in a child process,\n"
    "and writes the snapshot image or the error text to file descriptor 3. Not meant to be run by\n"
    "hand.\n"
    "\n"
    "With --serve it keeps running, reads the file each time it is asked and decodes only the\n"
    "pages that changed since; its copy of the file is kept in FOLDER.\n"
    "\n"
    "Options:\n"
    "  --indexes LIST  index only these columns (comma-separated TABLE.COLUMN, may be empty)\n"
    "                  and take no statistics: for a few statements run once\n"
    "  -h, --help  show this help and exit\n"
    "  --version   show the version and exit\n"
    "\n"
    "Examples:\n"
    "  $ ringolan-snapshot-reader demo.mdb 3> demo.image\n"
    "\n"
    "Exit status:\n"
    "  0  the image or the error text was written\n"
    "  2  usage error\n"
    "  3  file descriptor 3 could not be written\n";

}  // namespace

int main(int argc, char** argv) {
    using namespace ringolan;
    // Without memory statistics SQLite takes no global lock for each allocation.
    sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0);
    if (argc == 2 && cli::standard_option(argv[1]) != cli::StandardOption::none)
        return cli::answer(cli::standard_option(argv[1]), "ringolan-snapshot-reader", kHelp);
    if (argc == 3 && std::string(argv[1]) == "--serve") {
        ringolan::platform::tune_heap_for_large_build();
        const int code = ringolan::db::serve_reads(ringolan::platform::answer_channel(), argv[2]);
        std::fflush(nullptr);
        std::_Exit(code);
    }
    if (argc == 4 && std::string(argv[1]) == "--indexes") {
        build_options.only_indexes = split_list(argv[2]);
        argv += 2;
        argc -= 2;
    }
    if (argc != 2) {
        std::fputs(kUsage, stderr);
        return cli::kExitUsage;
    }
    // The heap grows in large steps and is not given back during the build: the rows of a
    // large table take hundreds of megabytes in many small blocks.
    ringolan::platform::tune_heap_for_large_build();
    const int code = ringolan::db::answer_build(ringolan::platform::answer_channel(), argv[1], build_watching_stderr);
    std::fflush(nullptr);
    std::_Exit(code);  // no static destructors: nothing is left to clean up, and nothing can hang
}
