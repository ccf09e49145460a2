#include "db/snapshot/read_recorder.h"

#include <algorithm>

#include "common/ascii.h"

namespace ringolan::db {

namespace {

thread_local ReadRecorder* current = nullptr;

int authorize(void*, int action, const char* table, const char*, const char*, const char*) {
    if (!current) return SQLITE_OK;
    if (action == SQLITE_READ && table)
        ReadRecorder::note_table(table);
    else if (action == SQLITE_PRAGMA)
        ReadRecorder::note_whole_state();  // may read the catalog or settings of the connection
    return SQLITE_OK;
}

bool contains(const std::vector<std::string>& names, std::string_view name) {
    return std::any_of(names.begin(), names.end(),
                       [&](const std::string& n) { return text::equal_ignoring_case(n, name); });
}

}  // namespace

bool ReadSet::unaffected_by(const std::vector<std::string>& changed) const {
    return known && std::none_of(changed.begin(), changed.end(),
                                 [&](const std::string& name) { return contains(tables, name); });
}

ReadRecorder::ReadRecorder() : outer_(current) { current = this; }

ReadRecorder::~ReadRecorder() {
    current = outer_;
    if (!outer_) return;
    try {
        outer_->whole_state_ = outer_->whole_state_ || whole_state_;
        for (const auto& t : tables_) outer_->add(t);
    } catch (...) {
        outer_->whole_state_ = true;  // out of memory: the outer one knows nothing for sure
    }
}

ReadSet ReadRecorder::result() const {
    if (whole_state_) return {};
    ReadSet set{true, tables_};
    std::sort(set.tables.begin(), set.tables.end());
    return set;
}

void ReadRecorder::add(std::string_view name) {
    if (text::equal_ignoring_case(name.substr(0, 7), "sqlite_"))
        whole_state_ = true;
    else if (!contains(tables_, name))
        tables_.push_back(text::ascii_lower(name));
}

void ReadRecorder::note_table(std::string_view name) {
    if (current) current->add(name);
}

void ReadRecorder::note_whole_state() {
    if (current) current->whole_state_ = true;
}

void watch_reads(sqlite3* db) { sqlite3_set_authorizer(db, authorize, nullptr); }

}  // namespace ringolan::db
