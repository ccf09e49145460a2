// Writes one text value of one option row into an existing Jet 4 file in place: the
// upload's time stamp ("itdatum" in Veranstaltung). Journaled; refuses rather than guess.
#pragma once

#include <filesystem>
#include <string>

#include "db/jet/journal.h"

namespace ringolan::jet {

// The row is found by key_column == key (whole value, exact); value_column receives the text.
struct OptionRow {
    std::string table = "Veranstaltung";
    std::string key_column = "Option";
    std::string key = "itdatum";
    std::string value_column = "Wert_str";
};

struct InPlaceResult {
    enum class Kind { Updated, Appended, Refused };
    Kind kind = Kind::Refused;
    std::string reason;  // why it was refused, in plain words
    bool written() const { return kind != Kind::Refused; }
};

struct InPlaceOptions {
    StepHook hook;  // test hook, called after each durable step
};

// Sets value_column of the first row whose key_column equals key, or appends a row with just
// those two columns set (all others NULL). Refuses, leaving the file untouched, when another
// program holds the file (a Jet lock file beside it), when another process of ours is writing
// it, when the row would need index maintenance, on an unknown layout or when there is no room.
// Rolls back an interrupted earlier write first. A failed write is rolled back at once and
// refused. Throws std::runtime_error only when the file cannot be restored or the journal
// cannot be removed (the journal then restores the file at the next open).
InPlaceResult write_option_row(const std::filesystem::path& db, const OptionRow& row, const std::string& text,
                               const InPlaceOptions& options = {});

// The upload's time stamp: "itdatum" in Veranstaltung.Wert_str.
InPlaceResult write_itdatum(const std::filesystem::path& db, const std::string& text,
                            const InPlaceOptions& options = {});

// The Jet lock file beside db ("name.ldb", any letter case of the extension), or empty.
std::filesystem::path jet_lock_file(const std::filesystem::path& db);

}  // namespace ringolan::jet
