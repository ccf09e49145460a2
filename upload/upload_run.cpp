#include "upload/upload_run.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "common/ascii.h"
#include "common/calendar.h"
#include "common/error.h"
#include "common/number.h"
#include "common/regional.h"
#include "db/query/query.h"
#include "db/query/row_cursor.h"
#include "platform/calendar_time.h"
#include "upload/body_source.h"
#include "upload/dump_pack.h"
#include "upload/itdatum_dump.h"
#include "upload/multipart.h"
#include "upload/site_addresses.h"
#include "upload/sql_dump.h"
#include "upload/tables_ahead.h"

namespace ringolan::upload {

const std::string kDeleteFailedError = "Fehler beim l\xF6schen bestehender Daten. evtl falsches Passwort";
const std::string kCountMismatchError = "Fehler beim hochladen (Anzahl der Datens\xE4tze stimmt nicht)";
const std::string kCancelledText = "Upload abgebrochen";
const std::string kItdatumNotBuilt = "not written: the file is left alone";

namespace {

const std::string kRows = " Datens\xE4tze";

constexpr UploadTable kAllStarters{
    "starter", "s", "SELECT startnr, nachname, vorname,waffe, Vereinsnr,Klasse,0 from starter ORDER BY Nachname, Vorname"};
constexpr UploadTable kStartersWithResults{
    "starter", "s",
    "SELECT distinct Starter.startnr, nachname, vorname,waffe, Vereinsnr,Klasse,0 from starter,Ergebnis where "
    "Starter.Startnr = Ergebnis.Startnr ORDER BY Nachname, Vorname"};
constexpr UploadTable kTables[] = {
    {"raenge", "r", "select Startnr, Rang, ErglistID,HauptErg, Einheit, TeilErg, MID, E1,E2,E3,E4,E5,E6,E7 from raenge "},
    {"verein", "v", "SELECT  Verein.Vereinsnr, Verein.Name FROM Verein  order by Verein.vereinsnr"},
    {"ergebnis", "e", "select erg_id, startnr, dp_id from ergebnis order by erg_id"},
    {"zuordnung", "z", "select * from zuordnung order by erg_id"},
    {"scheiben", "sc",
     "select sch_id, summe, r1,r2,r3,r4,r5,r6,r7,r8,r9,r10,t1,t2,t3,t4,t5,t6,t7,t8,t9,t10,w1,w2,w3,w4,w5,w6,w7,w8,w9,w10 "
     "from scheiben order by sch_id"},
    {"wettk", "w", "select dp_id, bezeichnung, scheibentyp,zehnerserien,Teilermessung  from wettk  order by dp_id"},
    {"wettb_def", "wb",
     "select ID, Titel,Sortierung,zeitstempel, mannschaft from wettb_def where selekt<>1 or selekt is null"},
    {"wettb_opt_def", "wbo",
     "select ID,ERGLIST_ID,  wettb_opt_def.Option AS _Option ,Wert_ST,Wert_In ,Wert_float from wettb_opt_def "},
    {"mann_teiln", "mt", "select * from mann_teiln "},
    {"mannschaft", "m", "select * from mannschaft "},
    {"veranstaltung", "va", "SELECT ID, Option as _option, Wert_int, Wert_str, Wert_float, bemerkung FROM Veranstaltung"},
};

}  // namespace

const std::vector<std::string>& upload_indexes() {
    static const std::vector<std::string> columns = {"ergebnis.Erg_id", "ergebnis.Startnr", "zuordnung.Erg_id",
                                                     "scheiben.Sch_id"};
    return columns;
}

namespace {

// The multipart body read as a request body.
class MultipartBodySource : public BodySource {
public:
    explicit MultipartBodySource(MultipartBody& body) : body_(body) {}
    std::uint64_t size() override { return body_.size(); }
    void rewind() override { body_.seek(0); }
    std::size_t read(char* out, std::size_t max) override { return body_.read(out, max); }

private:
    MultipartBody& body_;
};

// The files each table is prepared into ahead of its request; those of tables not sent are
// removed at the end.
class AheadFiles {
public:
    AheadFiles(const UploadRequest& r, const std::vector<UploadTable>& tables) {
        for (const UploadTable& t : tables)
            base_.push_back(r.work_dir / ("d" + r.account_id + "." + std::string(t.name) + ".ahead.sql"));
    }
    ~AheadFiles() {
        std::error_code ignored;
        for (size_t i = 0; i < base_.size(); ++i) {
            std::filesystem::remove(sql(i), ignored);
            std::filesystem::remove(gz(i), ignored);
        }
    }
    AheadFiles(const AheadFiles&) = delete;
    AheadFiles& operator=(const AheadFiles&) = delete;
    const std::filesystem::path& sql(size_t i) const { return base_[i]; }
    std::filesystem::path gz(size_t i) const { return base_[i].string() + ".gz"; }

private:
    std::vector<std::filesystem::path> base_;
};

}  // namespace

std::vector<UploadTable> upload_tables(StarterFilter filter) {
    std::vector<UploadTable> out{filter == StarterFilter::WithResults ? kStartersWithResults : kAllStarters};
    out.insert(out.end(), std::begin(kTables), std::end(kTables));
    return out;
}

std::string itdatum_text_now() {
    const std::time_t now = std::time(nullptr);
    const std::tm tm = platform::local_time(now);
    // The day number of the local calendar date, plus the time of day.
    const int64_t day = calendar::day_number(tm.tm_year + 1900, unsigned(tm.tm_mon + 1), unsigned(tm.tm_mday));
    const double days = static_cast<double>(day) + (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec) / 86400.0;
    return regional::datetime_text(days);
}

ItdatumResult itdatum_not_built(const std::filesystem::path&, const std::string&) {
    return {false, kItdatumNotBuilt};
}

int64_t count_reply_value(std::string_view reply) {
    reply.remove_prefix(std::min(reply.find_first_not_of(' '), reply.size()));
    return text::parse_whole_number(reply).value_or(-1);
}

UploadRun::UploadRun(HttpClient& client, UploadEvents events, ItdatumWriter itdatum)
    : client_(client), events_(std::move(events)), itdatum_(std::move(itdatum)) {}

std::filesystem::path UploadRun::sql_file(const UploadRequest& r) { return r.work_dir / ("d" + r.account_id + ".sql"); }
std::filesystem::path UploadRun::gz_file(const UploadRequest& r) { return r.work_dir / ("d" + r.account_id + ".sql.gz"); }
std::filesystem::path UploadRun::kept_sql_file(const UploadRequest& r, std::string_view table) {
    return r.work_dir / ("d" + r.account_id + "." + std::string(table) + ".sql");
}

void UploadRun::cancel() {
    cancel_ = true;
    client_.cancel();
}

void UploadRun::check_cancel() const {
    if (cancel_) throw UploadCancelled();
}

void UploadRun::append(const std::string& line) {
    if (events_.append) events_.append(line);
}

void UploadRun::replace_last(const std::string& line) {
    if (events_.replace_last) events_.replace_last(line);
}

void UploadRun::advance(int step) {
    progress_ = std::min(100, progress_ + step);
    if (events_.progress) events_.progress(progress_);
}

bool UploadRun::delete_remote(const UploadRequest& r) {
    append("Alte Daten werden gel\xF6scht ...");
    check_cancel();
    const std::string reply = client_.get(delete_address(r.base, r.account_id, r.password));
    if (text::trim_controls(reply) == "0") {
        replace_last("OK. Alte Daten wurden gel\xF6scht");
        return true;
    }
    append("Fehler!! Beim l\xF6schen alter Daten. (falsches Passwort?)");
    return false;
}

void UploadRun::upload_file(const UploadRequest& r) {
    MultipartBody body;
    client_.set_content_type(body.content_type());
    body.add_text_field("was", "doit");
    body.add_file_field("bild", gz_file(r), "application/msword");
    body.finish();
    MultipartBodySource source(body);
    check_cancel();
    client_.post(upload_address(r.base, r.account_id), source);  // the reply is not read
    bytes_posted_ += body.size();
}

int64_t UploadRun::count_remote(const UploadRequest& r, std::string_view table) {
    check_cancel();
    return count_reply_value(client_.get(count_address(r.base, r.account_id, table)));
}

size_t UploadRun::dump_table(const UploadRequest& r, sqlite3* db, const UploadTable& t, const std::string& stamp,
                             const std::filesystem::path& sql, const std::filesystem::path& gz, const StopCheck& stop) {
    SqlDump dump;
    dump.string_delim = "'";
    dump.numeric_delim = "'";
    dump.table_name = std::string(t.name);
    if (t.code == "va") {  // the options, with the time stamp row: a few rows, read whole
        db::Query options;
        options.set_command(t.statement);
        options.open(db);
        dump.query = &options;
        return dump_and_pack([&](std::ostream& out) { return dump_with_itdatum(dump, out, t.code, stamp); }, sql, gz,
                             stop, sql_file(r))
            .lines;
    }
    db::RowCursor rows(db, t.statement);
    return dump_and_pack([&](std::ostream& out) { return dump.dump_to(rows, out, t.code); }, sql, gz, stop,
                         sql_file(r))
        .lines;
}

uint64_t UploadRun::run(const UploadRequest& r, const db::Snapshot& snapshot) {
    client_.resume();  // a cancel of this run made before it began is still caught by the flag
    progress_ = std::clamp(r.progress, 0, 100);
    bytes_posted_ = 0;

    if (!delete_remote(r)) throw Error(kDeleteFailedError);

    // The time stamp: written into the file when the writer can, always into the dump.
    const std::string stamp = itdatum_text_now();
    if (itdatum_) {
        const ItdatumResult written = itdatum_(r.database, stamp);
        if (events_.note)
            events_.note(written.written ? "itdatum " + stamp + " eingetragen"
                                         : "itdatum " + stamp + " nur hochgeladen: " + written.message);
    }

    // The tables are dumped and packed ahead, one after another on a thread of their own, each
    // into files of its own that take the run's file names just before the table is posted.
    // Requests and log lines stay on this thread, in order.
    const auto connection = snapshot.connect();
    sqlite3* db = connection.get();
    const std::vector<UploadTable> tables = upload_tables(r.filter);
    const AheadFiles files(r, tables);  // outlives the thread that writes them
    const StopCheck stop = [this]() -> std::exception_ptr {
        return cancel_ ? std::make_exception_ptr(UploadCancelled()) : nullptr;
    };
    TablesAhead ahead(
        tables.size(),
        [&](size_t i, const StopCheck& s) {
            return dump_table(r, db, tables[i], stamp, files.sql(i), files.gz(i), s);
        },
        stop);
    uint64_t total = 0;
    for (size_t i = 0; i < tables.size(); ++i) {
        const std::string name(tables[i].name);
        const size_t lines = ahead.wait(i);
        std::filesystem::rename(files.sql(i), sql_file(r));
        std::filesystem::rename(files.gz(i), gz_file(r));
        append(name + "-Daten laden und aufbereiten...");
        replace_last(name + "-Daten werden zwischenspeichern ...");
        total += lines;
        const std::string n = std::to_string(lines);
        replace_last(name + "-Daten komprimieren ...");

        replace_last(name + "-Daten hochladen (" + n + kRows + ") ...");
        upload_file(r);
        advance(5);
        if (r.keep_dumps) std::filesystem::rename(sql_file(r), kept_sql_file(r, name));

        replace_last(name + "-Daten in Datenbank eintragen (" + n + kRows + ")...");
        if (events_.note) events_.note("Daten werden eingetragen ...");
        check_cancel();
        client_.get(insert_address(r.base, r.account_id, r.password));
        if (events_.note) {
            events_.note(" ------------------------------------------");
            events_.note(" Datens\xE4tze wurden erfolgreich eingetragen");
        }

        replace_last(name + "-Daten pr\xFC" "fen (" + n + kRows + ")...");
        if (count_remote(r, name) != static_cast<int64_t>(lines)) throw Error(kCountMismatchError);
        replace_last(name + "-Daten (" + n + kRows + ") OK ");
        advance(5);
    }
    append(std::to_string(total) + kRows + " fertig hochgeladen.");
    append("Upload erfolgreich beendet.");
    progress_ = 100;
    if (events_.progress) events_.progress(100);
    return total;
}

}  // namespace ringolan::upload
