#include "site/change_batch_json.h"

#include <nlohmann/json.hpp>

#include <set>

#include "common/cp1252.h"

namespace ringolan::site {

namespace {

using nlohmann::json;

// The batch read event by event (no document tree: a stream's first batch holds every row):
// each line is parsed as it is read.
class BatchReader : public nlohmann::json_sax<json> {
public:
    enum class Kind { object, array, string, integer, boolean, other };

    ChangeBatch batch;
    bool seen_stream = false, seen_base = false, seen_sequence = false, seen_tables = false;

    bool null() override { return value(Kind::other); }
    bool boolean(bool v) override {
        if (value(Kind::boolean) && field_ == "replace") batch.tables.back().replace = v;
        return true;
    }
    bool number_integer(number_integer_t v) override { return integer(v); }
    bool number_unsigned(number_unsigned_t v) override {
        return v > number_unsigned_t(INT64_MAX) ? value(Kind::other) : integer(std::int64_t(v));
    }
    bool number_float(number_float_t, const string_t&) override { return value(Kind::other); }
    bool binary(binary_t&) override { return value(Kind::other); }
    bool string(string_t& v) override;
    bool start_object(std::size_t) override;
    bool end_object() override;
    bool start_array(std::size_t) override;
    bool end_array() override;
    bool key(string_t& k) override {
        if (skip_ == 0) field_ = k;
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override {
        throw BatchFormatError("Die \xC3\x84nderungen sind kein g\xC3\xBCltiges JSON");
    }

private:
    enum class At { start, top, tables, entry, lines };

    // A value where the reader stands: checks the type of a known field, skips other fields.
    // True when the value is to be read.
    bool value(Kind kind);
    bool integer(std::int64_t v);
    void end_entry();
    void line(const std::string& utf8);

    At at_ = At::start;
    int skip_ = 0;          // depth inside a value being skipped
    std::string field_;     // the key of the value at hand
    const char* lines_ = nullptr;
    bool seen_code_ = false;
    std::set<std::string> insert_codes_;  // of the rows in the entry's insert_lines
};

[[noreturn]] void wrong_type(const std::string& name) {
    throw BatchFormatError("Feld \"" + name + "\" hat den falschen Typ");
}

bool BatchReader::value(Kind kind) {
    if (skip_ > 0) return false;
    Kind wanted = Kind::other;
    if (at_ == At::start) {
        if (kind != Kind::object) throw BatchFormatError("Die \xC3\x84nderungen sind kein JSON-Objekt");
        return true;
    }
    if (at_ == At::tables) {
        if (kind != Kind::object) throw BatchFormatError("Eintrag in \"tables\" ist kein Objekt");
        return true;
    }
    if (at_ == At::lines) {
        if (kind != Kind::string) throw BatchFormatError(std::string("Eintrag in \"") + lines_ + "\" ist kein Text");
        return true;
    }
    if (at_ == At::top) {
        if (field_ == "stream") wanted = Kind::string, seen_stream = true;
        if (field_ == "base") wanted = Kind::integer, seen_base = true;
        if (field_ == "sequence") wanted = Kind::integer, seen_sequence = true;
        if (field_ == "tables") wanted = Kind::array, seen_tables = true;
    } else {
        if (field_ == "code") wanted = Kind::string, seen_code_ = true;
        if (field_ == "replace") wanted = Kind::boolean;
        if (field_ == "deletes" || field_ == "inserts") wanted = Kind::array;
    }
    if (wanted == Kind::other) {  // a field not read
        if (kind == Kind::object || kind == Kind::array) skip_ = 1;
        return false;
    }
    if (kind != wanted) wrong_type(field_);
    return true;
}

bool BatchReader::integer(std::int64_t v) {
    if (!value(Kind::integer)) return true;
    (field_ == "base" ? batch.base : batch.sequence) = v;
    return true;
}

bool BatchReader::string(string_t& v) {
    if (!value(Kind::string)) return true;
    if (at_ == At::lines) {
        line(v);
    } else if (at_ == At::top) {
        batch.stream = std::move(v);
    } else {
        batch.tables.back().code = std::move(v);
    }
    return true;
}

// A deleted row is kept parsed; an inserted one as its line, checked to be one statement.
void BatchReader::line(const std::string& utf8) {
    TableChange& change = batch.tables.back();
    const bool deleted = lines_[0] == 'd';
    try {
        if (deleted) {
            change.deletes.push_back(parse_statement(text::utf8_to_cp1252(utf8)));
            change.deletes.back().line = change.deletes.size();
            return;
        }
        std::string& text = change.insert_lines;
        const std::size_t start = text.size();
        text::append_cp1252(text, utf8);
        text += "\r\n";
        std::size_t statements = 0;
        parse_text_views(std::string_view(text).substr(start), [&](const StatementView& s) {
            ++statements;
            insert_codes_.insert(std::string(s.code));
        });
        if (statements != 1) throw DumpError(1, statements == 0 ? "no statement" : "more than one statement");
    } catch (const DumpError& e) {
        throw BatchFormatError("Zeile in Tabelle \"" + change.code + "\" nicht lesbar: " + e.what());
    }
}

bool BatchReader::start_object(std::size_t) {
    if (skip_ > 0) return ++skip_, true;
    if (!value(Kind::object)) return true;
    if (at_ == At::start) {
        at_ = At::top;
    } else {
        at_ = At::entry;
        batch.tables.emplace_back();
        seen_code_ = false;
        insert_codes_.clear();
    }
    return true;
}

bool BatchReader::end_object() {
    if (skip_ > 0) return --skip_, true;
    if (at_ == At::entry) {
        end_entry();
        at_ = At::tables;
    }
    return true;
}

bool BatchReader::start_array(std::size_t) {
    if (skip_ > 0) return ++skip_, true;
    if (!value(Kind::array)) return true;
    if (at_ == At::top) {
        at_ = At::tables;
    } else {
        at_ = At::lines;
        lines_ = field_ == "deletes" ? "deletes" : "inserts";
        if (lines_[0] == 'd') {
            batch.tables.back().deletes.clear();
        } else {
            batch.tables.back().insert_lines.clear();
            insert_codes_.clear();
        }
    }
    return true;
}

bool BatchReader::end_array() {
    if (skip_ > 0) return --skip_, true;
    at_ = at_ == At::lines ? At::entry : At::top;
    return true;
}

// Every line of the entry must be of its table.
void BatchReader::end_entry() {
    const TableChange& change = batch.tables.back();
    if (!seen_code_) throw BatchFormatError("Feld \"code\" fehlt");
    auto refuse = [&](const std::string& code) {
        throw BatchFormatError("Zeile der Tabelle \"" + code + "\" unter Tabelle \"" + change.code + "\"");
    };
    for (const Statement& s : change.deletes)
        if (s.code != change.code) refuse(s.code);
    for (const std::string& code : insert_codes_)
        if (code != change.code) refuse(code);
}

void require(bool seen, const char* name) {
    if (!seen) throw BatchFormatError(std::string("Feld \"") + name + "\" fehlt");
}

}  // namespace

ChangeBatch parse_change_batch(std::string_view text) {
    BatchReader reader;
    json::sax_parse(text, &reader);
    require(reader.seen_stream, "stream");
    require(reader.seen_base, "base");
    require(reader.seen_sequence, "sequence");
    require(reader.seen_tables, "tables");
    ChangeBatch batch = std::move(reader.batch);
    if (batch.base < 0 || batch.sequence != batch.base + 1)
        throw BatchFormatError("\"sequence\" muss \"base\" + 1 sein");
    if (batch.stream.empty() || batch.stream.size() > 64 ||
        batch.stream.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-") !=
            std::string::npos)
        throw BatchFormatError("\"stream\" muss aus 1 bis 64 Buchstaben, Ziffern oder \"-\" bestehen");
    return batch;
}

std::string change_answer_json(std::string_view outcome, const LiveState& state) {
    json doc = json::object();
    if (!outcome.empty()) doc["outcome"] = std::string(outcome);
    doc["stream"] = state.stream;
    doc["sequence"] = state.sequence;
    return doc.dump();
}

std::string_view outcome_name(ChangeOutcome outcome) {
    switch (outcome) {
        case ChangeOutcome::applied: return "applied";
        case ChangeOutcome::duplicate: return "duplicate";
        case ChangeOutcome::conflict: return "conflict";
    }
    return "conflict";
}

}  // namespace ringolan::site
