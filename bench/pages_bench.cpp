// pages_bench: the ten pages generated fresh, without the page cache, on one snapshot.
//
//   pages_bench --db FILE.mdb [--seconds S] [--per-page N] [--lists DIR]
//       Crawls the site in-process through DispatchPage to pick up to N addresses of every page
//       (a fixed sample, the same on every run), then generates each page's addresses round
//       and round on one thread for S seconds (at least one round) and prints pages per CPU
//       second (the figure per core), the mean and the slowest page time. With --lists, writes
//       the addresses of each page to DIR/<page>.txt, one request target a line.
//   pages_bench --db FILE.mdb --explain "JET SQL" [--param V]...
//       Prints SQLite's query plan of a page statement (translated as the pages' are), and its
//       time with the values bound.
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/query/query.h"
#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"
#include "db/sql/jet_sql.h"
#include "server/dispatcher.h"
#include "tests/site_crawl/crawl.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using ringolan::db::Snapshot;
namespace crawl = ringolan::crawl;

namespace {

const char* const kPages[] = {"start.php", "vstbl.php", "vst.php",   "est.php",  "ofls.php",
                              "sb.php",    "erl.php",   "merl.php",  "mmerl.php", "erlsel.php"};

double thread_cpu_seconds() {
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

std::string lowered(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return s;
}

// The page the dispatcher runs for an address (the last matching test), "" for none.
std::string page_of(const std::string& address) {
    const std::string path = lowered(crawl::document_path(address));
    if (path.find("rahmen") != std::string::npos) return "";
    std::string page;
    for (const char* needle : {"start.php", "vstbl.php", "vst.php", "est.php", "ofls.php", "sb.php", "/erl.php",
                               "/merl.php", "mmerl.php", "erlsel.php"})
        if (path.find(needle) != std::string::npos) page = needle[0] == '/' ? needle + 1 : needle;
    return page;
}

uint64_t fnv(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (const char c : s) h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    return h;
}

ringolan::server::PageResult dispatch(const std::shared_ptr<const Snapshot>& snapshot, const std::string& address) {
    ringolan::pages::PageContext ctx;
    ctx.snapshot = snapshot;
    const auto q = address.find('?');
    return ringolan::server::DispatchPage(ctx, crawl::document_path(address),
                                          q == std::string::npos ? std::string_view() : std::string_view(address).substr(q + 1));
}

// Up to `per_page` addresses of each page, found by following the pages' own links. Of the
// pages with many addresses a hashed sample is followed so that the set spreads over the file.
std::map<std::string, std::vector<std::string>> pick_addresses(const std::shared_ptr<const Snapshot>& snapshot,
                                                               std::size_t per_page) {
    std::map<std::string, std::vector<std::string>> picked;
    std::map<std::string, std::size_t> followed;
    crawl::CrawlOptions options;
    options.max_addresses = 200000;
    options.follow = [&](const std::string& address) {
        const std::string page = page_of(address);
        if (page.empty()) return crawl::document_path(address).find(".php") != std::string::npos;  // framesets
        if (followed[page] >= per_page) return false;
        if ((page == "est.php" || page == "sb.php" || page == "erl.php" || page == "merl.php") && fnv(address) % 5 != 0)
            return false;
        ++followed[page];
        return true;
    };
    const auto fetch = [&](const std::string& address) {
        crawl::Response r;
        if (crawl::document_path(address).find(".php") == std::string::npos) return r;  // files: not pages
        try {
            auto page = dispatch(snapshot, address);
            r.status = page.status;
            r.content_type = "text/html";
            r.body = std::move(page.body);
        } catch (const std::exception&) {
            r.status = 500;
        }
        return r;
    };
    const auto result = crawl::crawl({"/start.php", "/vstbl.php", "/erlsel.php"}, fetch, options);
    for (const auto& v : result.visits)
        if (v.response.status == 200 && !page_of(v.address).empty()) picked[page_of(v.address)].push_back(v.address);
    return picked;
}

struct Measured {
    std::size_t addresses = 0;
    uint64_t pages = 0;
    double cpu = 0, wall = 0, max_ms = 0, bytes = 0;
    std::string slowest;
};

Measured measure(const std::shared_ptr<const Snapshot>& snapshot, const std::vector<std::string>& addresses,
                 double seconds) {
    Measured m;
    m.addresses = addresses.size();
    const double cpu0 = thread_cpu_seconds();
    const auto t0 = Clock::now();
    do {
        for (const auto& a : addresses) {
            const auto p0 = Clock::now();
            const auto page = dispatch(snapshot, a);
            const double ms = std::chrono::duration<double, std::milli>(Clock::now() - p0).count();
            if (ms > m.max_ms) {
                m.max_ms = ms;
                m.slowest = a;
            }
            m.bytes += double(page.body.size());
            ++m.pages;
        }
    } while (std::chrono::duration<double>(Clock::now() - t0).count() < seconds);
    m.wall = std::chrono::duration<double>(Clock::now() - t0).count();
    m.cpu = thread_cpu_seconds() - cpu0;
    return m;
}

int explain(const std::shared_ptr<const Snapshot>& snapshot, const std::string& jet, const std::vector<std::string>& params) {
    const std::string sql = ringolan::db::translate_jet_sql(jet);
    std::printf("%s\n", sql.c_str());
    auto connection = snapshot->connect();
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(connection.get(), ("EXPLAIN QUERY PLAN " + sql).c_str(), -1, &stmt, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "pages_bench: %s\n", sqlite3_errmsg(connection.get()));
        return 1;
    }
    while (sqlite3_step(stmt) == SQLITE_ROW)
        std::printf("  %3d %3d  %s\n", sqlite3_column_int(stmt, 0), sqlite3_column_int(stmt, 1),
                    reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
    sqlite3_finalize(stmt);
    std::vector<ringolan::db::Param> bound;
    for (const auto& p : params) bound.emplace_back(p);
    ringolan::db::Query q;
    q.set_command(jet);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const auto t0 = Clock::now();
        q.open(*snapshot, bound);
        best = std::min(best, std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    }
    std::printf("%zu rows, best of 5: %.2f ms; first column:", q.row_count(), best);
    for (int i = 0; i < 8 && !q.at_end(); ++i, q.next()) std::printf(" %s", q.field(std::size_t(0)).as_text().c_str());
    std::printf("\n");
    return 0;
}

int usage() {
    std::fprintf(stderr,
                 "usage: pages_bench --db FILE.mdb [--seconds S] [--per-page N] [--lists DIR]\n"
                 "       pages_bench --db FILE.mdb --explain \"JET SQL\" [--param V]...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    fs::path db, lists;
    double seconds = 3;
    std::size_t per_page = 200;
    std::string jet;
    std::vector<std::string> params;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (i + 1 >= argc) return usage();
        const std::string v = argv[++i];
        if (a == "--db") db = v;
        else if (a == "--seconds") seconds = std::atof(v.c_str());
        else if (a == "--per-page") per_page = std::size_t(std::atoi(v.c_str()));
        else if (a == "--lists") lists = v;
        else if (a == "--explain") jet = v;
        else if (a == "--param") params.push_back(v);
        else return usage();
    }
    if (db.empty() || seconds <= 0 || per_page < 1) return usage();

    ringolan::db::SnapshotInfo info;
    info.source = db;
    info.generation = 1;
    const auto t0 = Clock::now();
    const auto snapshot = Snapshot::from_image(ringolan::db::build_snapshot_image(db), info);
    std::fprintf(stderr, "snapshot of %s built in %.0f ms\n", db.c_str(),
                 std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
    if (!jet.empty()) return explain(snapshot, jet, params);

    const auto picked = pick_addresses(snapshot, per_page);
    if (!lists.empty()) {
        fs::create_directories(lists);
        for (const auto& [page, addresses] : picked) {
            std::ofstream out(lists / (page + ".txt"), std::ios::binary);
            for (const auto& a : addresses) out << crawl::request_target(a) << "\n";
        }
    }
    std::printf("| page | addresses | pages per CPU s | pages/s wall | mean ms | slowest ms | slowest address | mean bytes |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---|---:|\n");
    for (const char* page : kPages) {
        const auto it = picked.find(page);
        if (it == picked.end()) {
            std::printf("| %s | 0 | | | | | (no address found) | |\n", page);
            continue;
        }
        const Measured m = measure(snapshot, it->second, seconds);
        std::printf("| %s | %zu | %.0f | %.0f | %.3f | %.2f | %s | %.0f |\n", page, m.addresses, double(m.pages) / m.cpu,
                    double(m.pages) / m.wall, 1000.0 * m.cpu / double(m.pages), m.max_ms, m.slowest.c_str(),
                    m.bytes / double(m.pages));
        std::fflush(stdout);
    }
    return 0;
}
