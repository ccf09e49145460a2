#include "db/snapshot/read_recorder.h"

#include <algorithm>
#include <tuple>

#include "common/ascii.h"

namespace ringolan::db {

namespace {

thread_local ReadRecorder* current = nullptr;
thread_local ReadRecorder::KeyedScope* current_scope = nullptr;
thread_local uint64_t recorders_made = 0;

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return text::equal_ignoring_case(n, name); });
}

// Whether the changes of a table leave these keyed reads of it as they were.
bool keys_untouched(const std::vector<KeyedRead>& reads, std::string_view table, const std::vector<TableKeys>& keys) {
    for (const KeyedRead& read : reads) {
        if (!text::equal_ignoring_case(read.table, table)) continue;
        const auto told = std::find_if(keys.begin(), keys.end(), [&](const TableKeys& k) {
            return text::equal_ignoring_case(k.table, table) && text::equal_ignoring_case(k.column, read.column);
        });
        if (told == keys.end() || std::binary_search(told->values.begin(), told->values.end(), read.value))
            return false;
    }
    return true;
}

}  // namespace

bool ReadSet::unaffected_by(const std::vector<std::string>& changed, const std::vector<TableKeys>& keys) const {
    return known && std::none_of(changed.begin(), changed.end(), [&](const std::string& name) {
               return contains(tables, name) || !keys_untouched(keyed, name, keys);
           });
}

ReadRecorder::KeyedScope::KeyedScope(std::string_view table, std::string_view column, int64_t value)
    : KeyedScope(table, column, std::vector<int64_t>{value}) {}

ReadRecorder::KeyedScope::KeyedScope(std::string_view table, std::string_view column,
                                     const std::vector<int64_t>& values)
    : outer_(current_scope) {
    for (const int64_t value : values) reads_.push_back({text::ascii_lower(table), text::ascii_lower(column), value});
    // No keys: the statements read no row of the table, which a scope of no reads cannot say.
    if (reads_.empty()) reads_.push_back({text::ascii_lower(table), "", 0});
    current_scope = this;
}

ReadRecorder::KeyedScope::~KeyedScope() { current_scope = outer_; }

namespace {

int authorize(void*, int action, const char* table, const char*, const char*, const char*) {
    if (!current) return SQLITE_OK;
    if (action == SQLITE_READ && table)
        ReadRecorder::note_statement_read(table);
    else if (action == SQLITE_PRAGMA)
        ReadRecorder::note_whole_state();  // may read the catalog or settings of the connection
    return SQLITE_OK;
}

}  // namespace

ReadRecorder::ReadRecorder() : outer_(current), id_(++recorders_made) { current = this; }

ReadRecorder::~ReadRecorder() {
    current = outer_;
    if (!outer_) return;
    try {
        outer_->whole_state_ = outer_->whole_state_ || whole_state_;
        for (const auto& t : tables_) outer_->add(t);
        for (const auto& k : keyed_) outer_->add_keyed(k);
    } catch (...) {
        outer_->whole_state_ = true;  // out of memory: the outer one knows nothing for sure
    }
}

ReadSet ReadRecorder::result() const {
    if (whole_state_) return {};
    ReadSet set{true, tables_, {}};
    std::sort(set.tables.begin(), set.tables.end());
    // A table read whole somewhere needs no keys.
    for (const KeyedRead& k : keyed_)
        if (!contains(tables_, k.table)) set.keyed.push_back(k);
    std::sort(set.keyed.begin(), set.keyed.end(), [](const KeyedRead& a, const KeyedRead& b) {
        return std::tie(a.table, a.column, a.value) < std::tie(b.table, b.column, b.value);
    });
    return set;
}

void ReadRecorder::add(std::string_view name) {
    if (text::equal_ignoring_case(name.substr(0, 7), "sqlite_"))
        whole_state_ = true;
    else if (!contains(tables_, name))
        tables_.push_back(text::ascii_lower(name));
}

void ReadRecorder::add_keyed(const KeyedRead& read) {
    if (std::find(keyed_.begin(), keyed_.end(), read) == keyed_.end()) keyed_.push_back(read);
}

void ReadRecorder::note_table(std::string_view name) {
    if (current) current->add(name);
}

void ReadRecorder::note_reads(const ReadSet& reads) {
    if (!current) return;
    if (!reads.known) {
        current->whole_state_ = true;
        return;
    }
    for (const auto& t : reads.tables) current->add(t);
    for (const auto& k : reads.keyed) current->add_keyed(k);
}

void ReadRecorder::note_statement_read(std::string_view name) {
    if (!current) return;
    for (KeyedScope* scope = current_scope; scope; scope = scope->outer_) {
        if (text::equal_ignoring_case(scope->reads_.front().table, name)) {
            if (scope->reads_.front().column.empty()) break;  // no keys: read whole
            if (scope->noted_by_ == current->id_) return;
            for (const KeyedRead& read : scope->reads_) current->add_keyed(read);
            scope->noted_by_ = current->id_;
            return;
        }
    }
    current->add(name);
}

void ReadRecorder::note_whole_state() {
    if (current) current->whole_state_ = true;
}

void watch_reads(sqlite3* db) { sqlite3_set_authorizer(db, authorize, nullptr); }

}  // namespace ringolan::db
