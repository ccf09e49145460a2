// snapshot_bench [SHOOTERS...]: snapshot build time and memory for demo competitions, and what
// the join-column indexes do for page-like statements. Release builds only; not a test.
#include <sqlite3.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "db/mdbread/mdb_read.h"
#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"
#include "db/snapshot/snapshot_child.h"
#include "tools/mkdemo/demo.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using namespace ringolan;

namespace {

double ms_since(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

template <class F>
double best_ms(int reps, F f) {
    double best = 1e300;
    for (int i = 0; i < reps; ++i) {
        const auto t0 = Clock::now();
        f();
        best = std::min(best, ms_since(t0));
    }
    return best;
}

long self_peak_kib() {
    struct rusage u {};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// Page-like statements (as the query layer translates them), each with a parameter taken
// from the data so that every run finds rows.
struct Statement {
    const char* name;
    const char* sql;
    const char* param_sql;  // yields the values to bind, one per run
};

const Statement kStatements[] = {
    {"vstbl (clubs by shooters)",
     "SELECT verein.Name, verein.Vereinsnr, Count(verein.Vereinsnr) AS Anzahl FROM verein INNER JOIN starter "
     "ON verein.Vereinsnr = starter.Vereinsnr GROUP BY verein.Vereinsnr, verein.Name "
     "ORDER BY Count(verein.Vereinsnr) DESC",
     nullptr},
    {"vst (shooters of a club)", "SELECT Startnr, Nachname, Vorname FROM starter WHERE Vereinsnr = ?1",
     "SELECT Vereinsnr FROM verein ORDER BY 1"},
    {"est (targets of a shooter)",
     "SELECT scheiben.*, wettk.Bezeichnung, wettk.Teilermessung, scheiben.Sch_id, wettk.DP_ID "
     "FROM scheiben, wettk, ergebnis, zuordnung WHERE Startnr = ?1 AND ergebnis.Erg_id = zuordnung.Erg_id "
     "AND zuordnung.Scheiben_id = scheiben.Sch_id AND ergebnis.DP_Id = wettk.DP_ID ORDER BY Bezeichnung, pos",
     "SELECT Startnr FROM starter ORDER BY 1"},
    {"est (ranks of a shooter)",
     "SELECT raenge.ErglistID, wettb_def.Id, wettb_def.Sortierung, wettb_def.Titel, raenge.Startnr, raenge.Rang "
     "FROM wettb_def INNER JOIN raenge ON wettb_def.ID = raenge.ErglistID WHERE raenge.Startnr = ?1",
     "SELECT Startnr FROM starter ORDER BY 1"},
    {"erl (results list)",
     "SELECT raenge.*, wettb_def.Sortierung, wettb_def.Titel, starter.Nachname, starter.Vorname, verein.Name, "
     "verein.vereinsnr FROM verein, starter, wettb_def, raenge WHERE raenge.ErglistID = ?1 "
     "AND raenge.Startnr = starter.Startnr AND starter.Vereinsnr = verein.Vereinsnr "
     "AND wettb_def.ID = raenge.ErglistID ORDER BY Rang",
     "SELECT ID FROM wettb_def ORDER BY 1"},
    {"mmerl (teams of a club)",
     "SELECT mannschaft.wettb_id, mannschaft.MRang, mannschaft.Name, mann_teiln.Startnr, mannschaft.Mann_id, "
     "wettb_def.Titel, Nachname, Vorname, HauptErg, MErgebnis FROM wettb_def, mannschaft, mann_teiln, starter, "
     "raenge WHERE mannschaft.Mann_id = mann_teiln.Mann_id AND wettb_def.ID = mannschaft.Wettb_id "
     "AND starter.Startnr = mann_teiln.Startnr AND starter.Startnr = raenge.Startnr "
     "AND wettb_def.ID = raenge.ErglistID AND mannschaft.vereinsnr = ?1",
     "SELECT DISTINCT vereinsnr FROM mannschaft ORDER BY 1"},
    {"sb (one target)", "SELECT * FROM scheiben WHERE Sch_id = ?1", "SELECT Sch_id FROM scheiben ORDER BY 1"},
};

std::vector<std::string> params_of(sqlite3* db, const char* sql) {
    std::vector<std::string> out;
    sqlite3_stmt* st = nullptr;
    sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
    while (sqlite3_step(st) == SQLITE_ROW) out.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(st, 0)));
    sqlite3_finalize(st);
    return out;
}

// Runs a statement for `runs` parameter values (fewer when `cap` is set and 3 s have passed);
// returns ms per run, the rows seen and the runs made.
struct Timing {
    double ms;
    long rows;
    int runs;
};
Timing run_statement(sqlite3* db, const Statement& s, int runs, bool cap) {
    std::vector<std::string> params = s.param_sql ? params_of(db, s.param_sql) : std::vector<std::string>{""};
    sqlite3_stmt* st = nullptr;
    if (sqlite3_prepare_v2(db, s.sql, -1, &st, nullptr) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", s.name, sqlite3_errmsg(db));
        std::exit(1);
    }
    long rows = 0;
    const auto t0 = Clock::now();
    int n = 0;
    for (; n < runs; ++n) {
        const std::string& p = params[(size_t(n) * 7919) % params.size()];
        if (s.param_sql) sqlite3_bind_text(st, 1, p.c_str(), -1, SQLITE_TRANSIENT);
        while (sqlite3_step(st) == SQLITE_ROW) ++rows;
        sqlite3_reset(st);
        if (cap && ms_since(t0) > 3000) {
            ++n;
            break;
        }
    }
    const double per = ms_since(t0) / n;
    sqlite3_finalize(st);
    return {per, rows, n};
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> sizes;
    for (int i = 1; i < argc; ++i) sizes.push_back(std::atoi(argv[i]));
    if (sizes.empty()) sizes = {1000, 10000, 50000};
    const fs::path dir = fs::temp_directory_path() / ("snapshot_bench_" + std::to_string(::getpid()));
    fs::create_directories(dir);

    for (int shooters : sizes) {
        const fs::path file = dir / "demo.mdb";
        demo::DemoOptions opt;
        opt.shooters = shooters;
        const auto summary = demo::write_demo(opt, file);
        std::printf("\n== %d shooters: %zu rows, file %ju bytes\n", shooters, summary.rows, summary.bytes);

        const double read_ms = best_ms(2, [&] { mdbread::read_all(file); });
        db::BuildOptions plain;
        plain.indexes = false;
        std::vector<uint8_t> image_plain, image;
        const double plain_ms = best_ms(2, [&] { image_plain = db::build_snapshot_image(file, plain); });
        const double build_ms = best_ms(2, [&] { image = db::build_snapshot_image(file); });
        db::BuildResult iso;
        const double iso_ms = best_ms(2, [&] { iso = db::build_snapshot_isolated(file, std::chrono::seconds(120)); });
        if (!iso.ok()) {
            std::fprintf(stderr, "isolated build failed: %s\n", iso.error.c_str());
            return 1;
        }
        std::shared_ptr<const db::Snapshot> snap, snap_plain;
        double load_ms = 1e9;
        for (int i = 0; i < 2; ++i) {  // the copy of the image is not timed: the server moves it in
            std::vector<uint8_t> copy = image;
            snap.reset();
            const auto t0 = std::chrono::steady_clock::now();
            snap = db::Snapshot::from_image(std::move(copy), {});
            load_ms = std::min(load_ms, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
        }
        snap_plain = db::Snapshot::from_image(image_plain, {});

        std::printf("libmdb read_all alone       %8.0f ms\n", read_ms);
        std::printf("build without indexes       %8.0f ms   image %6.1f MiB\n", plain_ms, image_plain.size() / 1048576.0);
        std::printf("build with indexes          %8.0f ms   image %6.1f MiB\n", build_ms, image.size() / 1048576.0);
        std::printf("isolated build (child)      %8.0f ms   child peak %6.1f MiB\n", iso_ms, iso.child_peak_kib / 1024.0);
        std::printf("Snapshot::from_image        %8.0f ms   (connections read the image in place)\n", load_ms);

        auto c = snap->connect();
        auto cp = snap_plain->connect();
        std::printf("%-30s %12s %12s %8s\n", "statement", "no index ms", "indexes ms", "rows/run");
        for (const auto& s : kStatements) {
            const Timing without = run_statement(cp.get(), s, 200, true);
            const Timing with = run_statement(c.get(), s, without.runs, false);
            std::printf("%-30s %12.3f %12.3f %8.1f%s\n", s.name, without.ms, with.ms, double(with.rows) / with.runs,
                        without.rows == with.rows ? "" : "  ROWS DIFFER");
        }
    }
    std::printf("\nbench process peak %0.1f MiB\n", self_peak_kib() / 1024.0);
    fs::remove_all(dir);
    return 0;
}
