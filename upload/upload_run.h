// The upload run: the site deletes the account's data, then each of the twelve tables is dumped
// to "d<id>.sql", packed into "d<id>.sql.gz", posted as a multipart form, loaded by the site and
// its row count checked. The log keeps one line per table showing the step it is in.
//
// Nothing grows in memory with the number of rows: the statement is stepped row by row, each line
// goes through a pipe of fixed pieces to the .sql file and the gzip member at once, and the POST
// body is read from the file as it is sent. The tables are dumped and packed one after another
// ahead of the requests (into files of their own, "d<id>.<table>.ahead.sql" and ".sql.gz", that
// are renamed to the run's files before the table is posted), so the site loads one table while
// the next ones are prepared. A run may be cancelled from another thread; it stops before its
// next request, and a request in progress is ended by the client's cancel.
#pragma once

#include <atomic>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"
#include "db/snapshot/snapshot.h"
#include "upload/dump_pack.h"
#include "upload/http_client.h"

namespace ringolan::upload {

// Error texts of the run (Windows-1252).
extern const std::string kDeleteFailedError;  // the delete reply is not "0"
extern const std::string kCountMismatchError; // the site's count differs from the lines sent
extern const std::string kCancelledText;      // the run was cancelled

// Which starters the first table holds (the index of the window's filter choice).
enum class StarterFilter { All = 0, WithResults = 1 };

struct UploadTable {
    std::string_view name;       // shown in the log and asked for in the count request
    std::string_view code;       // written into every statement line
    std::string_view statement;  // Jet SQL, used as it stands
};

// The twelve tables of a run, in order: the starter table chosen by the filter first.
std::vector<UploadTable> upload_tables(StarterFilter filter);

// The text of the itdatum row: local date and time as date-time text.
std::string itdatum_text_now();

// The outcome of writing the itdatum row into the competition file.
struct ItdatumResult {
    bool written = false;
    std::string message;  // why not, when not written
};
using ItdatumWriter = std::function<ItdatumResult(const std::filesystem::path& mdb, const std::string& text)>;
// Writes the itdatum row into the file in place, journaled (db/jet/inplace.h); never throws. Not
// written, with the reason, when another program holds the file or the change cannot be made
// exactly. The default of a run.
ItdatumResult itdatum_in_place(const std::filesystem::path& mdb, const std::string& text);
// Writes nothing and says so (for runs that must leave the file alone).
ItdatumResult itdatum_not_built(const std::filesystem::path& mdb, const std::string& text);
extern const std::string kItdatumNotBuilt;

// Thrown when the run was cancelled; what() is kCancelledText.
class UploadCancelled : public Error {
public:
    UploadCancelled() : Error(kCancelledText) {}
};

struct UploadRequest {
    std::string base;         // the site's base address, http:// or https://
    std::string account_id;   // SiteAccountId (Windows-1252)
    std::string password;     // Windows-1252
    StarterFilter filter = StarterFilter::All;
    std::filesystem::path work_dir;  // where d<id>.sql and d<id>.sql.gz are written
    std::filesystem::path database;  // the competition file, for the itdatum write
    int progress = 0;                // the progress bar's position when the run starts
    bool keep_dumps = false;         // each table's .sql file kept as d<id>.<table>.sql
};

// What a run reports while it goes. Texts are Windows-1252. Every callback is optional and
// called on the run's thread.
struct UploadEvents {
    std::function<void(const std::string&)> append;        // a new log line
    std::function<void(const std::string&)> replace_last;  // overwrite the log's last line
    std::function<void(int)> progress;                     // the bar's new position, 0..100
    // Notes outside the one-line-per-table log: the itdatum outcome and the insert step's texts.
    std::function<void(const std::string&)> note;
};

// The columns the run's statements order and join by ("table.column"): a snapshot read for one
// run needs no other index.
const std::vector<std::string>& upload_indexes();

class UploadRun {
public:
    // The client lives outside the run, so its cookies and connection carry over between runs.
    UploadRun(HttpClient& client, UploadEvents events, ItdatumWriter itdatum = itdatum_in_place);

    // Runs once on the data of snapshot. Returns the total of rows sent. Throws the run's error
    // texts (std::runtime_error), the client's errors, query and file errors, UploadCancelled.
    uint64_t run(const UploadRequest& request, const db::Snapshot& snapshot);

    // From any thread, also before run begins: the run stops before its next request and a
    // request in progress ends. A cancelled run object stays cancelled.
    void cancel();
    bool cancelled() const { return cancel_.load(); }
    // Bytes of the multipart bodies posted by the last run.
    uint64_t bytes_posted() const { return bytes_posted_; }

    // The files of a run.
    static std::filesystem::path sql_file(const UploadRequest& request);
    static std::filesystem::path gz_file(const UploadRequest& request);
    static std::filesystem::path kept_sql_file(const UploadRequest& request, std::string_view table);

private:
    void check_cancel() const;
    void append(const std::string& line);
    void replace_last(const std::string& line);
    void advance(int step);
    bool delete_remote(const UploadRequest& r);
    void upload_file(const UploadRequest& r);
    int64_t count_remote(const UploadRequest& r, std::string_view table);
    // Dumps and packs one table into sql and gz, named in the gzip header as the run's .sql file;
    // returns its lines. Any thread.
    size_t dump_table(const UploadRequest& r, sqlite3* db, const UploadTable& t, const std::string& stamp,
                      const std::filesystem::path& sql, const std::filesystem::path& gz, const StopCheck& stop);

    HttpClient& client_;
    UploadEvents events_;
    ItdatumWriter itdatum_;
    std::atomic<bool> cancel_{false};
    int progress_ = 0;
    uint64_t bytes_posted_ = 0;
};

// The count reply as a whole number: leading blanks, an optional sign, digits and nothing
// after them; -1 otherwise.
int64_t count_reply_value(std::string_view reply);

}  // namespace ringolan::upload
