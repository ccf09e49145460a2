#include "site/live_snapshot.h"

#include <stdexcept>

#include "common/ascii.h"
#include "common/sqlite.h"
#include "db/snapshot/snapshot_build.h"
#include "db/sql/jet_functions.h"
#include "site/tables.h"

namespace ringolan::site {

namespace {

using jet::ColumnType;
using sqlite::quote_identifier;

std::vector<FileColumn> numbered(std::string_view prefix, int count, ColumnType type) {
    std::vector<FileColumn> out;
    for (int i = 1; i <= count; ++i) out.push_back({std::string(prefix) + std::to_string(i), type});
    return out;
}

std::vector<FileColumn> joined(std::vector<FileColumn> a, const std::vector<FileColumn>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

constexpr ColumnType kLong = ColumnType::Long, kText = ColumnType::Text, kDouble = ColumnType::Double,
                     kSmall = ColumnType::Integer, kBool = ColumnType::Boolean, kDate = ColumnType::DateTime;

class Image {
public:
    Image() {
        sqlite3* raw = nullptr;
        const int rc = sqlite3_open_v2("file:ringolan-site-live?vfs=memdb", &raw,
                                       SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                                       nullptr);
        db_.reset(raw);
        if (rc != SQLITE_OK) throw std::runtime_error("cannot create an in-memory SQLite database");
        db::register_jet_functions(raw);
        exec("PRAGMA journal_mode=OFF");
        exec("PRAGMA synchronous=OFF");
        exec("PRAGMA application_id=" + std::to_string(db::kSnapshotApplicationId));
        exec("BEGIN");
    }

    void exec(const std::string& sql) {
        if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_.get()));
    }

    sqlite3_stmt* prepare(const std::string& sql) {
        sqlite3_stmt* raw = nullptr;
        if (sqlite3_prepare_v2(db_.get(), sql.c_str(), -1, &raw, nullptr) != SQLITE_OK)
            throw std::runtime_error(sql + ": " + sqlite3_errmsg(db_.get()));
        return raw;
    }

    void step(sqlite3_stmt* st) {
        if (sqlite3_step(st) != SQLITE_DONE) throw std::runtime_error(std::string("insert: ") + sqlite3_errmsg(db_.get()));
        sqlite3_reset(st);
    }

    std::vector<std::uint8_t> finish() {
        exec("ANALYZE");  // as the range's snapshot: the planner starts joins at selective columns
        exec("COMMIT");
        sqlite3_int64 size = 0;
        // memdb lends its buffer: one copy instead of two.
        if (const unsigned char* lent = sqlite3_serialize(db_.get(), "main", &size, SQLITE_SERIALIZE_NOCOPY))
            return std::vector<std::uint8_t>(lent, lent + size);
        unsigned char* bytes = sqlite3_serialize(db_.get(), "main", &size, 0);
        if (!bytes) throw std::runtime_error("cannot serialize the snapshot (out of memory)");
        std::vector<std::uint8_t> out(bytes, bytes + size);
        sqlite3_free(bytes);
        return out;
    }

private:
    sqlite::DbHandle db_;
};

// The file column each uploaded column fills (by name; by position for tables dumped with
// "select *"); -1 for columns the file does not have.
std::vector<int> column_map(const FileTable& file, const std::string& stored_name,
                            const std::vector<std::string>& stored_columns) {
    const TableDef* def = table_by_name(stored_name);
    const bool by_position = def && def->columns.empty();
    std::vector<int> out;
    for (std::size_t i = 0; i < stored_columns.size(); ++i) {
        int at = -1;
        if (by_position) {
            at = i < file.columns.size() ? int(i) : -1;
        } else {
            std::string_view name = stored_columns[i];
            if (name.starts_with('_')) name.remove_prefix(1);  // "_option": renamed in the dump
            for (std::size_t c = 0; c < file.columns.size() && at < 0; ++c)
                if (text::equal_ignoring_case(file.columns[c].name, name)) at = int(c);
        }
        out.push_back(at);
    }
    return out;
}

void bind(sqlite3_stmt* st, int index, const StoredValueView& v, ColumnType type) {
    using Kind = StoredValue::Kind;
    if (v.kind == Kind::null || type == kDate) {
        sqlite3_bind_null(st, index);
    } else if (type == kBool) {
        // The upload writes "-1" for no and "0" for yes.
        const bool no = v.kind == Kind::integer && v.integer == -1;
        sqlite3_bind_int(st, index, no ? 0 : -1);
    } else if (v.kind == Kind::integer) {
        sqlite3_bind_int64(st, index, v.integer);
    } else if (v.kind == Kind::real) {
        sqlite3_bind_double(st, index, v.real);
    } else {
        sqlite3_bind_text64(st, index, v.text.data(), v.text.size(), SQLITE_STATIC, SQLITE_UTF8);
    }
}

void create(Image& image, const FileTable& file) {
    std::string sql = "CREATE TABLE " + quote_identifier(file.name) + " (";
    for (const FileColumn& col : file.columns) {
        if (sql.back() != '(') sql += ", ";
        sql += quote_identifier(col.name) + ' ' + db::declared_type(col.type);
        if (col.type == kText || col.type == ColumnType::Memo) sql += std::string(" COLLATE ") + db::kJetCollation;
    }
    image.exec(sql + ")");
}

// The insert of a stored table's columns into its file table; empty when none of them is there.
sqlite::StmtHandle prepare_fill(Image& image, const FileTable& file, const std::vector<int>& map) {
    std::string columns, values;
    for (int at : map) {
        if (at < 0) continue;
        columns += (columns.empty() ? "" : ", ") + quote_identifier(file.columns[std::size_t(at)].name);
        values += values.empty() ? "?" : ",?";
    }
    if (columns.empty()) return {};
    return sqlite::StmtHandle(
        image.prepare("INSERT INTO " + quote_identifier(file.name) + " (" + columns + ") VALUES (" + values + ")"));
}

void index(Image& image, const FileTable& file) {
    for (const FileColumn& col : file.columns)
        for (const std::string& wanted : db::indexed_columns())
            if (text::equal_ignoring_case(col.name, wanted))
                image.exec("CREATE INDEX " + quote_identifier("ix_" + std::string(file.name) + "_" + col.name) + " ON " +
                           quote_identifier(file.name) + " (" + quote_identifier(col.name) + ")");
}

}  // namespace

const std::vector<FileTable>& file_tables() {
    static const std::vector<FileTable> tables = {
        {"starter", "starter",
         {{"Startnr", kLong}, {"Nachname", kText}, {"Vorname", kText}, {"Vereinsnr", kText}, {"waffe", kText},
          {"Klasse", kText}}},
        {"verein", "verein", {{"Vereinsnr", kText}, {"Name", kText}}},
        {"raenge", "raenge",
         joined({{"ErglistID", kLong}, {"Startnr", kLong}, {"Rang", kLong}, {"HauptErg", kDouble}, {"Einheit", kText},
                 {"TeilErg", kText}, {"MID", kLong}},
                numbered("E", 7, kDouble))},
        {"ergebnis", "ergebnis", {{"Erg_id", kLong}, {"Startnr", kLong}, {"DP_Id", kLong}}},
        {"zuordnung", "zuordnung",
         {{"Erg_id", kLong}, {"Scheiben_id", kLong}, {"pos", kSmall}, {"Stand", kSmall}, {"Zeit", kDate}}},
        {"scheiben", "scheiben",
         joined(joined(joined({{"Sch_id", kLong}, {"summe", kDouble}}, numbered("R", 15, kDouble)),
                       numbered("t", 15, kLong)),
                numbered("w", 15, kSmall))},
        {"wettk", "wettk",
         {{"DP_ID", kLong}, {"Bezeichnung", kText}, {"Scheibentyp", kText}, {"zehnerserien", ColumnType::Byte},
          {"Teilermessung", kText}}},
        {"wettb_def", "wettb_def",
         {{"ID", kLong}, {"Titel", kText}, {"Sortierung", kText}, {"zeitstempel", kDate}, {"mannschaft", kBool},
          {"selekt", kLong}}},
        {"wettb_opt_def", "wettb_opt_def",
         {{"ID", kLong}, {"Erglist_id", kLong}, {"Option", kText}, {"Wert_ST", kText}, {"Wert_In", kLong},
          {"Wert_float", kDouble}}},
        {"mannschaft", "mannschaft",
         {{"Mann_id", kLong}, {"Wettb_id", kLong}, {"vereinsnr", kText}, {"Name", kText}, {"MRang", kLong},
          {"MErgebnis", kDouble}, {"Klasse", kText}, {"MTeilErg", kText}}},
        {"mann_teiln", "mann_teiln", {{"Mann_id", kLong}, {"Startnr", kLong}, {"Reihenfolge", kSmall}, {"Ersatz", kBool}}},
        {"Veranstaltung", "veranstaltung",
         {{"ID", kLong}, {"Option", kText}, {"Wert_int", kLong}, {"Wert_str", kText}, {"Wert_float", kDouble},
          {"bemerkung", ColumnType::Memo}}},
    };
    return tables;
}

struct LiveSnapshotBuilder::Build {
    Image image;
    const FileTable* file = nullptr;  // the table being filled; nullptr: none of the file's
    std::vector<int> map;
    sqlite::StmtHandle insert;
};

LiveSnapshotBuilder::LiveSnapshotBuilder() : build_(std::make_unique<Build>()) {
    for (const FileTable& file : file_tables()) create(build_->image, file);
}

LiveSnapshotBuilder::~LiveSnapshotBuilder() = default;

void LiveSnapshotBuilder::table(const std::string& name, const std::vector<std::string>& columns) {
    Build& b = *build_;
    b.insert.reset();
    b.file = nullptr;
    for (const FileTable& file : file_tables())
        if (text::equal_ignoring_case(name, file.upload)) b.file = &file;
    current_ = &rows_[name];
    if (!b.file) return;
    b.map = column_map(*b.file, name, columns);
    b.insert = prepare_fill(b.image, *b.file, b.map);
}

void LiveSnapshotBuilder::row(const std::vector<StoredValueView>& values) {
    if (current_) ++*current_;
    ++total_rows_;
    Build& b = *build_;
    if (!b.insert) return;
    const StoredValueView none;
    int index = 1;
    for (std::size_t i = 0; i < b.map.size(); ++i) {
        if (b.map[i] < 0) continue;
        const ColumnType type = b.file->columns[std::size_t(b.map[i])].type;
        bind(b.insert.get(), index++, i < values.size() ? values[i] : none, type);
    }
    b.image.step(b.insert.get());
}

std::size_t LiveSnapshotBuilder::rows_of(const std::string& table) const {
    const auto it = rows_.find(table);
    return it == rows_.end() ? 0 : it->second;
}

std::vector<std::uint8_t> LiveSnapshotBuilder::image() {
    build_->insert.reset();
    for (const FileTable& file : file_tables()) index(build_->image, file);
    return build_->image.finish();
}

std::shared_ptr<const db::Snapshot> LiveSnapshotBuilder::snapshot(const std::string& account, std::int64_t version) {
    db::SnapshotInfo info;
    info.source = "site:" + account;
    info.generation = std::uint64_t(version);
    return db::Snapshot::from_image(image(), std::move(info));
}

}  // namespace ringolan::site
