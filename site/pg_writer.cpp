#include "site/pg_writer.h"

#include <cstdlib>

namespace ringolan::site::pg {

AccountWriter::AccountWriter(PGconn* c, std::string account, std::int64_t next_seq)
    : c_(c), account_(std::move(account)), next_seq_(next_seq) {
    const Result r = exec(c_, "SELECT tbl, id, width FROM site_tables WHERE account = $1", {{account_}});
    for (int i = 0; i < r.rows(); ++i) {
        const TableDef* def = table_by_name(r.text(i, 0));
        if (!def) continue;
        Table& t = tables_[def->name];
        t.id = r.integer(i, 1);
        t.width = t.stored_width = std::size_t(r.integer(i, 2));
    }
}

AccountWriter::AccountWriter(PGconn* c, std::string account, Staging)
    : c_(c), account_(std::move(account)), next_seq_(1), staging_(true) {}

AccountWriter::~AccountWriter() {
    if (copy_) copy_->abort("abandoned");
}

const TableDef& AccountWriter::def_of(std::string_view code, std::size_t line) const {
    const TableDef* def = table_by_code(code);
    if (!def) throw DumpError(line, "unknown table code \"" + std::string(code) + "\"");
    return *def;
}

AccountWriter::Table& AccountWriter::created(const TableDef& def) {
    Table& t = tables_[def.name];
    if (t.id != 0) return t;
    end_copy();  // no other statement runs during a COPY
    t.width = t.stored_width = std::max<std::size_t>(def.columns.size(), 1);
    if (staging_) {
        t.id = exec(c_, "SELECT nextval(pg_get_serial_sequence('site_tables', 'id'))").integer(0, 0);
        return t;
    }
    const std::string width = std::to_string(t.width);
    const std::string name(def.name);
    t.id = exec(c_, "INSERT INTO site_tables (account, tbl, width) VALUES ($1, $2, $3) RETURNING id",
                {{account_}, {name}, {width}})
               .integer(0, 0);
    return t;
}

void AccountWriter::end_copy() {
    if (!copy_) return;
    copy_->finish();
    copy_.reset();
    last_ = nullptr;
}

void AccountWriter::insert(const StatementView& s) {
    if (!last_ || s.code != last_code_) {
        const TableDef& def = def_of(s.code, s.line);
        last_ = &created(def);
        last_code_ = s.code;
        added_rows_ = &added_[std::string(def.name)];
    }
    if (!copy_) copy_.emplace(c_, "COPY site_rows (table_id, seq, vals) FROM STDIN");
    Table& t = *last_;
    encoder_.copy_line(copy_->buffer(), t.id, next_seq_++, s.values);
    copy_->maybe_flush();
    t.width = std::max(t.width, s.values.size());
    ++t.rows_delta;
    ++*added_rows_;
}

namespace {

// A text[] literal of the texts.
std::string array_literal(const std::vector<std::string>& texts) {
    std::string out = "{";
    for (const std::string& t : texts) {
        if (out.size() > 1) out += ',';
        out += '"';
        for (const char c : t) {
            if (c == '"' || c == '\\') out += '\\';
            out += c;
        }
        out += '"';
    }
    return out + "}";
}

}  // namespace

bool AccountWriter::remove(const std::vector<StatementView>& rows) {
    std::map<std::string_view, std::vector<std::string>> wanted;  // by table name
    for (const StatementView& s : rows) wanted[def_of(s.code, s.line).name].push_back(encoder_.row_text(s.values));
    for (const auto& [name, texts] : wanted) {
        auto it = tables_.find(name);
        if (it == tables_.end() || it->second.id == 0) return false;
        end_copy();
        // Each wanted text as often as it is wanted, matched with the first rows equal to it.
        const std::string id = std::to_string(it->second.id);
        const Result r = exec(c_,
                              "WITH wanted AS (SELECT v, count(*) AS n FROM unnest($2::text[]) AS v GROUP BY v), "
                              "found AS (SELECT r.seq, w.n, row_number() OVER (PARTITION BY r.vals ORDER BY r.seq) AS k "
                              "FROM site_rows r JOIN wanted w ON r.vals = w.v WHERE r.table_id = $1) "
                              "DELETE FROM site_rows WHERE table_id = $1 AND seq IN (SELECT seq FROM found WHERE k <= n)",
                              {{id}, {array_literal(texts)}});
        const long long removed = std::atoll(PQcmdTuples(r.get()));
        it->second.rows_delta -= removed;
        if (removed != static_cast<long long>(texts.size())) return false;
    }
    return true;
}

void AccountWriter::clear(std::string_view code, std::size_t line) {
    const TableDef& def = def_of(code, line);
    auto it = tables_.find(def.name);
    if (it == tables_.end() || it->second.id == 0) return;
    end_copy();
    const std::string id = std::to_string(it->second.id);
    const Result r = exec(c_, "DELETE FROM site_rows WHERE table_id = $1", {{id}});
    it->second.rows_delta -= std::atoll(PQcmdTuples(r.get()));
}

std::int64_t AccountWriter::finish() {
    end_copy();
    if (staging_) return next_seq_;
    for (auto& [name, t] : tables_) {
        if (t.id == 0 || (t.rows_delta == 0 && t.width == t.stored_width)) continue;
        const std::string id = std::to_string(t.id), width = std::to_string(t.width), delta = std::to_string(t.rows_delta);
        exec(c_, "UPDATE site_tables SET width = $2, row_count = row_count + $3 WHERE id = $1", {{id}, {width}, {delta}});
        t.stored_width = t.width;
        t.rows_delta = 0;
    }
    return next_seq_;
}

std::vector<AccountWriter::StagedTable> AccountWriter::staged() const {
    std::vector<StagedTable> out;
    for (const auto& [name, t] : tables_)
        if (t.id != 0) out.push_back({name, t.id, t.width, t.rows_delta});
    return out;
}

}  // namespace ringolan::site::pg
