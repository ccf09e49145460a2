// The upload run against a real ringolan-site process and against scripted fake sites: the log
// lines, the progress, the error texts, the rows that arrive, cancelling, and ringolan-upload.
#include "common/sqlite.h"
#include "upload/upload_run.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <regex>
#include <set>

#include "db/mdbread/mdb_read.h"
#include "tests/support/process.h"
#include "tests/upload/script_peer.h"
#include "tests/upload/site_process.h"
#include "tests/upload/upload_fixture.h"
#include "tools/mkdemo/demo.h"

using namespace ringolan;
using namespace ringolan::test_upload;
using upload::StarterFilter;

namespace {

const std::string kDs = " Datens\xE4tze";  // Windows-1252, as the log is

std::string lower(std::string s) {
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// The log as the window keeps it.
struct Log {
    std::vector<std::string> lines;
    std::vector<int> progress;
    upload::UploadEvents events() {
        upload::UploadEvents e;
        e.append = [this](const std::string& l) { lines.push_back(l); };
        e.replace_last = [this](const std::string& l) {
            ASSERT_FALSE(lines.empty());
            lines.back() = l;
        };
        e.progress = [this](int p) { progress.push_back(p); };
        return e;
    }
};

// Rows of one table of the site's database, each value as text ("" for NULL).
std::vector<std::vector<std::string>> site_rows(const fs::path& db, const std::string& sql) {
    sqlite3* h = nullptr;
    std::vector<std::vector<std::string>> out;
    const int opened = sqlite3_open_v2(db.c_str(), &h, SQLITE_OPEN_READONLY, nullptr);
    const sqlite::DbHandle owner(h);
    if (opened != SQLITE_OK) {
        ADD_FAILURE() << "cannot open " << db;
        return out;
    }
    sqlite3_stmt* st = nullptr;
    const int prepared = sqlite3_prepare_v2(h, sql.c_str(), -1, &st, nullptr);
    const sqlite::StmtHandle statement(st);
    if (prepared != SQLITE_OK) {
        ADD_FAILURE() << sql << ": " << sqlite3_errmsg(h);
        return out;
    }
    while (sqlite3_step(st) == SQLITE_ROW) {
        std::vector<std::string> row;
        for (int i = 0; i < sqlite3_column_count(st); ++i) {
            const auto* t = sqlite3_column_text(st, i);
            row.push_back(t ? reinterpret_cast<const char*>(t) : "");
        }
        out.push_back(std::move(row));
    }
    return out;
}

int64_t site_count(const fs::path& db, const std::string& table) {
    const auto rows = site_rows(db, "SELECT count(*) FROM \"" + table + "\"");
    return rows.empty() ? -1 : std::stoll(rows[0][0]);
}

// A value of the file as the site keeps it: whole numbers in digits, text in UTF-8, NULL and
// the empty text as "".
std::string file_text(const jet::Value& v) {
    if (std::holds_alternative<jet::Null>(v)) return "";
    if (auto* i = std::get_if<int64_t>(&v)) return std::to_string(*i);
    if (auto* s = std::get_if<std::string>(&v)) return *s;
    ADD_FAILURE() << "unexpected value kind";
    return "?";
}

size_t column_of(const mdbread::TableData& t, const std::string& name) {
    for (size_t i = 0; i < t.columns.size(); ++i)
        if (lower(t.columns[i].name) == name) return i;
    ADD_FAILURE() << t.name << " has no column " << name;
    return 0;
}

// The multiset of the named columns over the rows that pass keep.
std::multiset<std::vector<std::string>> file_rows(const mdbread::TableData& t, const std::vector<std::string>& cols,
                                                  const std::function<bool(const jet::Row&)>& keep = {}) {
    std::multiset<std::vector<std::string>> out;
    std::vector<size_t> idx;
    for (const auto& c : cols) idx.push_back(column_of(t, c));
    for (const auto& row : t.rows) {
        if (keep && !keep(row)) continue;
        std::vector<std::string> values;
        for (size_t i : idx) values.push_back(file_text(row[i]));
        out.insert(values);
    }
    return out;
}

std::multiset<std::vector<std::string>> as_set(const std::vector<std::vector<std::string>>& rows) {
    return {rows.begin(), rows.end()};
}

class UploadDemo : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new fs::path(scratch_dir() / "demo");
        fs::create_directories(*dir_);
        demo::DemoOptions with;
        demo::write_demo(with, *dir_ / "demo300.mdb");
        demo::DemoOptions without;
        without.itdatum = false;
        demo::write_demo(without, *dir_ / "demo300-no-itdatum.mdb");
        tables_ = new std::map<std::string, mdbread::TableData>;
        for (auto& t : mdbread::read_all(*dir_ / "demo300.mdb")) (*tables_)[lower(t.name)] = std::move(t);
    }
    static void TearDownTestSuite() {
        delete tables_;
        delete dir_;
    }

    static const mdbread::TableData& table(const std::string& name) { return tables_->at(name); }

    // Runs one upload of file and returns the log; fails the test on an error.
    Log upload(SiteProcess& site, const fs::path& file, StarterFilter filter, int progress = 0, bool keep_dumps = false) {
        Log log;
        upload::HttpClient client;
        upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
        upload::UploadRequest r;
        r.base = site.base();
        r.account_id = "club1";
        r.password = "p&ss #1";
        r.filter = filter;
        r.work_dir = *dir_;
        r.database = file;
        r.progress = progress;
        r.keep_dumps = keep_dumps;
        EXPECT_NO_THROW(run.run(r, *snapshot_of(file)));
        return log;
    }

    // Expected line count per table, from the file read through libmdb.
    static std::vector<std::pair<std::string, int64_t>> expected_counts(StarterFilter filter, int64_t extra_va) {
        std::set<int64_t> with_results;
        const auto& erg = table("ergebnis");
        for (const auto& row : erg.rows) with_results.insert(std::get<int64_t>(row[column_of(erg, "startnr")]));
        const auto& st = table("starter");
        int64_t starters = 0;
        for (const auto& row : st.rows)
            if (filter == StarterFilter::All || with_results.count(std::get<int64_t>(row[column_of(st, "startnr")])))
                ++starters;
        const auto& wb = table("wettb_def");
        int64_t wb_rows = 0;
        for (const auto& row : wb.rows) {
            const auto& sel = row[column_of(wb, "selekt")];
            if (std::holds_alternative<jet::Null>(sel) || std::get<int64_t>(sel) != 1) ++wb_rows;
        }
        auto n = [](const std::string& t) { return int64_t(table(t).rows.size()); };
        return {{"starter", starters},         {"raenge", n("raenge")},         {"verein", n("verein")},
                {"ergebnis", n("ergebnis")},   {"zuordnung", n("zuordnung")},   {"scheiben", n("scheiben")},
                {"wettk", n("wettk")},         {"wettb_def", wb_rows},          {"wettb_opt_def", n("wettb_opt_def")},
                {"mann_teiln", n("mann_teiln")}, {"mannschaft", n("mannschaft")},
                {"veranstaltung", n("veranstaltung") + extra_va}};
    }

    static inline fs::path* dir_ = nullptr;
    static inline std::map<std::string, mdbread::TableData>* tables_ = nullptr;
};

TEST_F(UploadDemo, BothFiltersPublishEveryTableAndTheSiteHoldsTheFilesRows) {
    SiteProcess site(RINGOLAN_SITE_PROGRAM, *dir_ / "site-both", "club1", "p&ss #1");
    const fs::path db = site.database("club1");
    for (StarterFilter filter : {StarterFilter::All, StarterFilter::WithResults}) {
        SCOPED_TRACE(filter == StarterFilter::All ? "Alle Starter" : "Nur Starter mit Ergebnisse");
        const bool keep_dumps = filter == StarterFilter::All;
        const Log log = upload(site, *dir_ / "demo300.mdb", filter, 0, keep_dumps);
        const auto counts = expected_counts(filter, 0);
        // Kept, each table's lines are in a file of its own.
        for (const auto& [name, n] : counts) {
            const fs::path kept = *dir_ / ("dclub1." + name + ".sql");
            EXPECT_EQ(fs::exists(kept), keep_dumps) << name;
            if (keep_dumps) {
                EXPECT_EQ(std::ranges::count(read_bytes(kept), '\n'), n) << name;
            }
            fs::remove(kept);
        }

        // The log: the deletion, one line per table in its final step, the total, the end.
        std::vector<std::string> expected{"OK. Alte Daten wurden gel\xF6scht"};
        int64_t total = 0;
        for (const auto& [name, n] : counts) {
            expected.push_back(name + "-Daten (" + std::to_string(n) + kDs + ") OK ");
            total += n;
        }
        expected.push_back(std::to_string(total) + kDs + " fertig hochgeladen.");
        expected.push_back("Upload erfolgreich beendet.");
        EXPECT_EQ(log.lines, expected);

        // The site holds what the file holds, table by table (the old data deleted first).
        for (const auto& [name, n] : counts) EXPECT_EQ(site_count(db, name), n) << name;
        EXPECT_EQ(as_set(site_rows(db, "SELECT vereinsnr, name FROM verein")),
                  file_rows(table("verein"), {"vereinsnr", "name"}));
        EXPECT_EQ(as_set(site_rows(db, "SELECT erg_id, startnr, dp_id FROM ergebnis")),
                  file_rows(table("ergebnis"), {"erg_id", "startnr", "dp_id"}));
        std::set<std::string> with_results;
        for (const auto& r : site_rows(db, "SELECT startnr FROM ergebnis")) with_results.insert(r[0]);
        const auto& st = table("starter");
        EXPECT_EQ(as_set(site_rows(db, "SELECT startnr, nachname, vorname, vereinsnr FROM starter")),
                  file_rows(st, {"startnr", "nachname", "vorname", "vereinsnr"}, [&](const jet::Row& row) {
                      return filter == StarterFilter::All ||
                             with_results.count(file_text(row[column_of(st, "startnr")])) > 0;
                  }));
        // The options table carries this run's time stamp in place of the file's.
        const auto stamp = site_rows(db, "SELECT wert_str FROM veranstaltung WHERE _option = 'itdatum'");
        ASSERT_EQ(stamp.size(), 1u);
        EXPECT_TRUE(std::regex_match(stamp[0][0], std::regex(R"(\d\d\.\d\d\.\d{4}( \d\d:\d\d:\d\d)?)"))) << stamp[0][0];
        const auto& va = table("veranstaltung");
        std::string old_stamp;
        for (const auto& row : va.rows)
            if (file_text(row[column_of(va, "option")]) == "itdatum") old_stamp = file_text(row[column_of(va, "wert_str")]);
        EXPECT_NE(stamp[0][0], old_stamp);

        // Progress: +5 after each post and after each check, held at 100, then 100.
        ASSERT_EQ(log.progress.size(), 25u);
        for (int i = 0; i < 24; ++i) EXPECT_EQ(log.progress[size_t(i)], std::min(100, 5 * (i + 1))) << i;
        EXPECT_EQ(log.progress.back(), 100);
    }
    // The files of the run hold the last table, its gzip header naming the run's .sql file though
    // it was prepared ahead under another name; no file prepared ahead is left.
    EXPECT_TRUE(fs::exists(*dir_ / "dclub1.sql"));
    EXPECT_EQ(read_bytes(*dir_ / "dclub1.sql.gz").substr(0, 21), std::string("\x1F\x8B\x08\x08\0\0\0\0\0\0dclub1.sql\0", 21));
    for (const auto& entry : fs::directory_iterator(*dir_))
        EXPECT_EQ(entry.path().filename().string().find(".ahead"), std::string::npos) << entry.path();
}

TEST_F(UploadDemo, AFileWithoutTheTimeStampRowSendsOneMore) {
    SiteProcess site(RINGOLAN_SITE_PROGRAM, *dir_ / "site-noit", "club1", "p&ss #1");
    const Log log = upload(site, *dir_ / "demo300-no-itdatum.mdb", StarterFilter::All, 100);
    const fs::path db = site.database("club1");
    const int64_t options = int64_t(table("veranstaltung").rows.size()) - 1;  // the demo's other options
    EXPECT_EQ(site_count(db, "veranstaltung"), options + 1);
    const auto row = site_rows(db, "SELECT id, wert_str FROM veranstaltung WHERE _option = 'itdatum'");
    ASSERT_EQ(row.size(), 1u);
    const auto ids = site_rows(db, "SELECT max(CAST(id AS INTEGER)) FROM veranstaltung WHERE _option <> 'itdatum'");
    EXPECT_EQ(std::stoll(row[0][0]), std::stoll(ids[0][0]) + 1);
    EXPECT_FALSE(row[0][1].empty());
    ASSERT_GE(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[log.lines.size() - 3], "veranstaltung-Daten (" + std::to_string(options + 1) + kDs + ") OK ");
    // A run that starts at 100 stays there.
    for (int p : log.progress) EXPECT_EQ(p, 100);
}

// The run's own writer puts the time stamp into the file itself: the row is updated, or added to
// a file without one, and the file reads back with the same text the site received.
TEST_F(UploadDemo, TheTimeStampIsWrittenIntoTheFile) {
    for (const char* source : {"demo300.mdb", "demo300-no-itdatum.mdb"}) {
        const fs::path file = *dir_ / (std::string("stamped-") + source);
        fs::copy_file(*dir_ / source, file, fs::copy_options::overwrite_existing);
        SiteProcess site(RINGOLAN_SITE_PROGRAM, *dir_ / (std::string("site-stamp-") + source), "club1", "p&ss #1");
        Log log;
        std::vector<std::string> notes;
        auto events = log.events();
        events.note = [&](const std::string& n) { notes.push_back(n); };
        upload::HttpClient client;
        upload::UploadRun run(client, events);
        upload::UploadRequest r{site.base(), "club1", "p&ss #1", StarterFilter::All, *dir_, file, 0};
        EXPECT_NO_THROW(run.run(r, *snapshot_of(file)));
        ASSERT_FALSE(notes.empty());
        EXPECT_EQ(notes[0].rfind(" eingetragen"), notes[0].size() - 12) << notes[0];
        const auto site_row = site_rows(site.database("club1"), "SELECT wert_str FROM veranstaltung WHERE _option = 'itdatum'");
        ASSERT_EQ(site_row.size(), 1u);
        std::vector<std::string> in_file;
        for (const auto& t : mdbread::read_all(file)) {
            if (lower(t.name) != "veranstaltung") continue;
            for (const auto& row : t.rows)
                if (std::get<std::string>(row[column_of(t, "option")]) == "itdatum")
                    in_file.push_back(std::get<std::string>(row[column_of(t, "wert_str")]));
        }
        EXPECT_EQ(in_file, std::vector<std::string>{site_row[0][0]}) << source;
        EXPECT_EQ(log.lines.back(), "Upload erfolgreich beendet.");
    }
}

TEST_F(UploadDemo, AWrongPasswordStopsAfterTheDeletion) {
    SiteProcess site(RINGOLAN_SITE_PROGRAM, *dir_ / "site-pw", "club1", "richtig");
    Log log;
    upload::HttpClient client;
    upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
    upload::UploadRequest r{site.base(), "club1", "falsch", StarterFilter::All, *dir_, *dir_ / "demo300.mdb", 0};
    try {
        run.run(r, *snapshot_of(*dir_ / "demo300.mdb"));
        FAIL() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "Fehler beim l\xF6schen bestehender Daten. evtl falsches Passwort");
    }
    EXPECT_EQ(log.lines, (std::vector<std::string>{"Alte Daten werden gel\xF6scht ...",
                                                   "Fehler!! Beim l\xF6schen alter Daten. (falsches Passwort?)"}));
    EXPECT_TRUE(log.progress.empty());
    EXPECT_FALSE(fs::exists(site.database("club1")));  // nothing arrived
}

TEST_F(UploadDemo, ASiteThatIsDownEndsTheRunWithTheConnectionError) {
    uint16_t port;
    {
        upload::testing::ScriptPeer closed_peer({});
        port = closed_peer.port();
    }  // nothing listens there now
    Log log;
    upload::HttpClient client;
    upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
    upload::UploadRequest r{"http://127.0.0.1:" + std::to_string(port), "club1", "pw", StarterFilter::All, *dir_,
                            *dir_ / "demo300.mdb", 0};
    try {
        run.run(r, *snapshot_of(*dir_ / "demo300.mdb"));
        FAIL() << "no error";
    } catch (const upload::TransportError& e) {
        EXPECT_EQ(std::string(e.what()), "Connection refused (connecting to 127.0.0.1:" + std::to_string(port) + ")");
    }
    EXPECT_EQ(log.lines, std::vector<std::string>{"Alte Daten werden gel\xF6scht ..."});
}

// A fake site: "0" for the deletion, 200 for the post and the insert, count_body for counts. One
// request per connection.
std::vector<upload::testing::ScriptPeer::Script> fake_site(std::string count_body, int connections,
                                                           std::vector<std::string>* targets = nullptr,
                                                           std::mutex* m = nullptr) {
    std::vector<upload::testing::ScriptPeer::Script> scripts;
    for (int i = 0; i < connections; ++i)
        scripts.push_back([count_body, targets, m](upload::testing::PeerConn& c) {
            const std::string req = c.read_request();
            if (req.empty()) return;
            const std::string target = req.substr(0, req.find("\r\n"));
            if (targets) {
                std::lock_guard lock(*m);
                targets->push_back(target);
            }
            std::string body;
            if (target.find("loeschen.php") != std::string::npos) body = "0";
            if (target.find("anzahl.php") != std::string::npos) body = count_body;
            c.send(upload::testing::reply("HTTP/1.1 200 OK", "Connection: close\r\n", body));
            c.close();
        });
    return scripts;
}

TEST_F(UploadDemo, ACountThatDiffersEndsTheRunAtTheCheck) {
    const std::string all = std::to_string(table("starter").rows.size());
    for (const std::string& reply : std::vector<std::string>{"999", all + "\r\n", all + " ", "", "abc"}) {
        SCOPED_TRACE("count reply \"" + reply + "\"");
        upload::testing::ScriptPeer peer(fake_site(reply, 4));
        Log log;
        upload::HttpClient client;
        upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
        upload::UploadRequest r{peer.base(), "club1", "pw", StarterFilter::All, *dir_, *dir_ / "demo300.mdb", 0};
        try {
            run.run(r, *snapshot_of(*dir_ / "demo300.mdb"));
            FAIL() << "no error";
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(std::string(e.what()), "Fehler beim hochladen (Anzahl der Datens\xE4tze stimmt nicht)");
        }
        EXPECT_EQ(log.lines, (std::vector<std::string>{"OK. Alte Daten wurden gel\xF6scht",
                                                       "starter-Daten pr\xFC" "fen (" + all + kDs + ")..."}));
        EXPECT_EQ(log.progress, std::vector<int>{5});
    }
    // Leading blanks before the bare digits pass the check; the next table's count differs.
    upload::testing::ScriptPeer peer(fake_site("  " + all, 8));
    Log log;
    upload::HttpClient client;
    upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
    upload::UploadRequest r{peer.base(), "club1", "pw", StarterFilter::All, *dir_, *dir_ / "demo300.mdb", 0};
    EXPECT_THROW(run.run(r, *snapshot_of(*dir_ / "demo300.mdb")), std::runtime_error);
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1], "starter-Daten (" + all + kDs + ") OK ");
    EXPECT_EQ(log.lines[2], "raenge-Daten pr\xFC" "fen (" + std::to_string(table("raenge").rows.size()) + kDs + ")...");
}

TEST_F(UploadDemo, CancelStopsBeforeTheNextRequest) {
    std::vector<std::string> targets;
    std::mutex m;
    const std::string all = std::to_string(table("starter").rows.size());
    upload::testing::ScriptPeer peer(fake_site(all, 8, &targets, &m));
    Log log;
    upload::HttpClient client;
    upload::UploadRun* running = nullptr;
    auto events = log.events();
    auto append = events.append;
    events.append = [&](const std::string& l) {
        append(l);
        if (l.rfind("raenge-", 0) == 0) running->cancel();
    };
    upload::UploadRun run(client, events, upload::itdatum_not_built);
    running = &run;
    upload::UploadRequest r{peer.base(), "club1", "pw", StarterFilter::All, *dir_, *dir_ / "demo300.mdb", 0};
    try {
        run.run(r, *snapshot_of(*dir_ / "demo300.mdb"));
        FAIL() << "no error";
    } catch (const upload::UploadCancelled& e) {
        EXPECT_EQ(std::string(e.what()), "Upload abgebrochen");
    }
    std::lock_guard lock(m);
    ASSERT_EQ(targets.size(), 4u);  // delete, and post, insert, count of the starters
    EXPECT_EQ(targets[3].rfind("GET /ergebnisse/anzahl.php?id=club1&tabelle=starter ", 0), 0u) << targets[3];
    EXPECT_EQ(log.lines.back(), "raenge-Daten hochladen (" + std::to_string(table("raenge").rows.size()) + kDs + ") ...");
}

TEST_F(UploadDemo, TheTimeStampGoesToTheWriterAndIntoTheOptionsDump) {
    // A site that answers each count in turn with the next expected number.
    std::vector<upload::testing::ScriptPeer::Script> scripts;
    auto next = std::make_shared<std::atomic<size_t>>(0);
    const auto expected = expected_counts(StarterFilter::All, 0);
    for (int i = 0; i < 1 + 3 * 12; ++i)
        scripts.push_back([next, expected](upload::testing::PeerConn& c) {
            const std::string req = c.read_request();
            if (req.empty()) return;
            std::string body;
            if (req.find("loeschen.php") != std::string::npos) body = "0";
            if (req.find("anzahl.php") != std::string::npos) body = std::to_string(expected[(*next)++].second);
            c.send(upload::testing::reply("HTTP/1.1 200 OK", "Connection: close\r\n", body));
            c.close();
        });
    upload::testing::ScriptPeer peer(std::move(scripts));

    const fs::path work = *dir_ / "stamp";
    fs::create_directories(work);
    std::vector<std::string> notes;
    std::string written_text;
    fs::path written_file;
    Log log;
    auto events = log.events();
    events.note = [&](const std::string& n) { notes.push_back(n); };
    upload::HttpClient client;
    upload::UploadRun run(client, events, [&](const fs::path& file, const std::string& text) {
        written_file = file;
        written_text = text;
        return upload::ItdatumResult{false, "die Datei ist gesperrt"};
    });
    upload::UploadRequest r{peer.base(), "x", "pw", StarterFilter::All, work, *dir_ / "demo300.mdb", 0};
    EXPECT_NO_THROW(run.run(r, *snapshot_of(*dir_ / "demo300.mdb")));
    EXPECT_EQ(written_file, *dir_ / "demo300.mdb");
    ASSERT_FALSE(written_text.empty());
    ASSERT_FALSE(notes.empty());
    EXPECT_EQ(notes[0], "itdatum " + written_text + " nur hochgeladen: die Datei ist gesperrt");
    // The last table's file is the options dump; its itdatum line carries the writer's text.
    const std::string dump = read_bytes(work / "dx.sql");
    EXPECT_NE(dump.find("'itdatum','"), std::string::npos) << dump;
    EXPECT_NE(dump.find("'" + written_text + "'"), std::string::npos) << dump;
    EXPECT_EQ(log.lines.back(), "Upload erfolgreich beendet.");

    // Without a writer of its own the run says the file was not written.
    EXPECT_EQ(upload::itdatum_not_built(*dir_ / "demo300.mdb", "x").message,
              "not written: the file is left alone");
}

TEST_F(UploadDemo, ACancelBeforeTheRunBeginsSendsNothing) {
    upload::testing::ScriptPeer peer(fake_site("0", 2));
    Log log;
    upload::HttpClient client;
    upload::UploadRun run(client, log.events(), upload::itdatum_not_built);
    run.cancel();
    upload::UploadRequest r{peer.base(), "club1", "pw", StarterFilter::All, *dir_, *dir_ / "demo300.mdb", 0};
    EXPECT_THROW(run.run(r, *snapshot_of(*dir_ / "demo300.mdb")), upload::UploadCancelled);
    EXPECT_EQ(log.lines, std::vector<std::string>{"Alte Daten werden gel\xF6scht ..."});
    EXPECT_EQ(peer.connections(), 0);
}

TEST(CountReply, BareDigitsAfterOptionalBlanksAndSign) {
    EXPECT_EQ(upload::count_reply_value("12"), 12);
    EXPECT_EQ(upload::count_reply_value("   12"), 12);
    EXPECT_EQ(upload::count_reply_value("+12"), 12);
    EXPECT_EQ(upload::count_reply_value("-1"), -1);
    EXPECT_EQ(upload::count_reply_value("0"), 0);
    EXPECT_EQ(upload::count_reply_value("12\r\n"), -1);
    EXPECT_EQ(upload::count_reply_value("12 "), -1);
    EXPECT_EQ(upload::count_reply_value("\t12"), -1);
    EXPECT_EQ(upload::count_reply_value(""), -1);
    EXPECT_EQ(upload::count_reply_value("-"), -1);
    EXPECT_EQ(upload::count_reply_value("99999999999999999999"), -1);
}

TEST(UploadTables, TheFilterChoosesTheStarterStatement) {
    const auto all = upload::upload_tables(StarterFilter::All);
    const auto with = upload::upload_tables(StarterFilter::WithResults);
    ASSERT_EQ(all.size(), 12u);
    ASSERT_EQ(with.size(), 12u);
    EXPECT_EQ(all[0].statement.find("distinct"), std::string_view::npos);
    EXPECT_NE(with[0].statement.find("distinct"), std::string_view::npos);
    for (size_t i = 1; i < 12; ++i) EXPECT_EQ(all[i].statement, with[i].statement);
    std::string codes;
    for (const auto& t : all) codes += std::string(t.code) + " ";
    EXPECT_EQ(codes, "s r v e z sc w wb wbo mt m va ");
}

// ringolan-upload: exit codes, the printed log, the password from a file or standard input.
TEST_F(UploadDemo, TheProgramExitsWithZeroOnlyOnSuccess) {
    SiteProcess site(RINGOLAN_SITE_PROGRAM, *dir_ / "site-cli", "club1", "geheim");
    const fs::path work = *dir_ / "cli";
    fs::create_directories(work);
    write_bytes(work / "pw.txt", "geheim\n");
    const std::string common = "--db " + (*dir_ / "demo300.mdb").string() + " --url " + site.base() +
                               " --id club1 --work-dir " + work.string();
    auto ok = readback::run_program(RINGOLAN_UPLOAD_PROGRAM, common + " --password-file " + (work / "pw.txt").string() +
                                                                 " --filter results",
                                    work);
    EXPECT_EQ(ok.code, 0) << ok.err;
    EXPECT_NE(ok.out.find("starter-Daten ("), std::string::npos);
    EXPECT_EQ(ok.out.substr(ok.out.size() - 28), "Upload erfolgreich beendet.\n");
    EXPECT_EQ(ok.out.rfind("OK. Alte Daten wurden gel\xC3\xB6scht\n", 0), 0u) << ok.out;  // UTF-8 on the terminal

    auto stdin_pw = readback::run_program(RINGOLAN_UPLOAD_PROGRAM, common + " < " + (work / "pw.txt").string(), work);
    EXPECT_EQ(stdin_pw.code, 0) << stdin_pw.err;

    auto wrong = readback::run_program("echo falsch | " + std::string(RINGOLAN_UPLOAD_PROGRAM), common, work);
    EXPECT_EQ(wrong.code, 1);
    EXPECT_EQ(wrong.out,
              "Alte Daten werden gel\xC3\xB6scht ...\nFehler!! Beim l\xC3\xB6schen alter Daten. (falsches Passwort?)\n");
    EXPECT_EQ(wrong.err, "ringolan-upload: Fehler beim l\xC3\xB6schen bestehender Daten. evtl falsches Passwort\n");

    auto usage = readback::run_program(RINGOLAN_UPLOAD_PROGRAM, "--url " + site.base() + " --id club1", work);
    EXPECT_EQ(usage.code, 2);
    EXPECT_NE(usage.err.find("--db is missing"), std::string::npos);
    auto bad_filter = readback::run_program(RINGOLAN_UPLOAD_PROGRAM, common + " --filter some < /dev/null", work);
    EXPECT_EQ(bad_filter.code, 2);
    auto no_file = readback::run_program(
        RINGOLAN_UPLOAD_PROGRAM,
        "--db " + (work / "none.mdb").string() + " --url " + site.base() + " --id club1 --password-file " +
            (work / "pw.txt").string() + " --work-dir " + work.string(),
        work);
    EXPECT_EQ(no_file.code, 1);
}

}  // namespace
