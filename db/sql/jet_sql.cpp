#include "db/sql/jet_sql.h"

#include <sqlite3.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <string>

#include "common/ascii.h"
#include "common/cp1252.h"
#include "common/sqlite.h"

namespace ringolan::db {

using sqlite::quote_identifier;

namespace {

// Keywords that mean the same in Jet and SQLite and pass through.
constexpr std::string_view kKeywords[] = {
    "SELECT", "DISTINCT", "FROM", "WHERE", "AND", "OR", "NOT",   "IS", "NULL",  "LIKE", "IN", "BETWEEN",
    "INNER",  "LEFT",     "OUTER", "JOIN", "ON",  "AS", "GROUP", "BY", "ORDER", "ASC",  "DESC",
};
// Those of them that may stand before "(".
constexpr std::string_view kBeforeParen[] = {"AND", "OR", "NOT", "ON", "WHERE", "IN", "LIKE", "BETWEEN", "JOIN", "FROM"};
// Jet words this translator does not take on (not understood, or with another meaning).
constexpr std::string_view kRejected[] = {
    "UNION",  "HAVING",    "TOP",    "DISTINCTROW", "INSERT",   "UPDATE",  "DELETE",    "INTO",  "VALUES",
    "SET",    "EXISTS",    "ALL",    "ANY",         "SOME",     "CREATE",  "DROP",      "ALTER", "TRANSFORM",
    "PIVOT",  "PARAMETERS", "PROCEDURE", "EXCEPT",  "INTERSECT", "WITH",   "CASE",      "WHEN",  "THEN",
    "ELSE",   "END",       "LIMIT",  "OFFSET",      "CROSS",    "FULL",    "NATURAL",   "USING", "ESCAPE",
    "COLLATE", "GLOB",     "REGEXP", "MATCH",       "CAST",     "RIGHT",   "MOD",
};

bool is_in(std::string_view word, const auto& list) {
    return std::find(std::begin(list), std::end(list), word) != std::end(list);
}

bool id_start(unsigned char c) { return std::isalpha(c) || c == '_' || c >= 0x80; }
bool id_char(unsigned char c) { return id_start(c) || std::isdigit(c); }

// A name as SQLite takes it: plain ASCII names that are not SQLite keywords stay as they are.
std::string identifier(std::string_view name) {
    const bool plain = std::all_of(name.begin(), name.end(), [](char c) {
        const auto u = static_cast<unsigned char>(c);
        return u < 0x80 && id_char(u);
    });
    if (plain && !sqlite3_keyword_check(name.data(), static_cast<int>(name.size()))) return std::string(name);
    return quote_identifier(name);
}

class Translator {
public:
    Translator(std::string_view jet) : original_(jet), s_(text::cp1252_to_utf8(jet)) {}

    std::string run() {
        for (;;) {
            const size_t before = i_;
            skip_blanks();
            if (i_ >= s_.size()) break;
            if (dot_ && i_ != before) fail("nach \".\" fehlt der Name");
            token();
        }
        if (!seen_select_) fail("nur SELECT-Anweisungen werden unterstützt");
        if (dot_) fail("nach \".\" fehlt der Name");
        return out_;
    }

private:
    [[noreturn]] void fail(const std::string& what) const {
        throw QueryError(text::utf8_to_cp1252("SQL nicht übersetzbar (" + what + "): ") + std::string(original_));
    }

    void skip_blanks() {
        while (i_ < s_.size() && (s_[i_] == ' ' || s_[i_] == '\t' || s_[i_] == '\r' || s_[i_] == '\n')) ++i_;
    }

    void emit(const std::string& t, bool glue_left = false) {
        if (ended_) fail("Text nach dem abschließenden \";\"");
        if (t == "," || t == ")") glue_left = true;
        if (!out_.empty() && !glue_left && !glue_next_) out_ += ' ';
        out_ += t;
        glue_next_ = t == "(";
        last_was_name_ = false;
    }

    // Next non-blank character, or 0.
    char peek_after_blanks(size_t j) const {
        while (j < s_.size() && (s_[j] == ' ' || s_[j] == '\t' || s_[j] == '\r' || s_[j] == '\n')) ++j;
        return j < s_.size() ? s_[j] : 0;
    }

    void token() {
        const auto c = static_cast<unsigned char>(s_[i_]);
        if (dot_ && !(id_start(c) || c == '[' || c == '*')) fail("nach \".\" fehlt der Name");
        if (c == '"' || c == '\'') return string_literal(static_cast<char>(c));
        if (c == '[') return bracket_name();
        if (std::isdigit(c) || (c == '.' && i_ + 1 < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_ + 1]))))
            return number();
        if (id_start(c)) return word();
        return punctuation();
    }

    void string_literal(char q) {
        std::string lit = "'";
        size_t j = i_ + 1;
        for (;;) {
            if (j >= s_.size()) fail("Zeichenkette ohne Ende");
            if (s_[j] == q) {
                if (j + 1 < s_.size() && s_[j + 1] == q) {
                    j += 2;
                    lit += q == '\'' ? "''" : "\"";
                    continue;
                }
                break;
            }
            if (s_[j] == '\'') lit += '\'';
            lit += s_[j++];
        }
        i_ = j + 1;
        emit(lit + "'");
    }

    void bracket_name() {
        const size_t end = s_.find(']', i_ + 1);
        if (end == std::string::npos) fail("\"[\" ohne \"]\"");
        const std::string_view name(s_.data() + i_ + 1, end - i_ - 1);
        if (name.empty()) fail("leerer Name in []");
        i_ = end + 1;
        emit(quote_identifier(name), after_dot());
        name_done();
    }

    void number() {
        const size_t start = i_;
        while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
        if (i_ < s_.size() && s_[i_] == '.') {
            ++i_;
            while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
        }
        if (i_ < s_.size() && (s_[i_] == 'e' || s_[i_] == 'E')) {
            size_t j = i_ + 1;
            if (j < s_.size() && (s_[j] == '+' || s_[j] == '-')) ++j;
            if (j < s_.size() && std::isdigit(static_cast<unsigned char>(s_[j]))) {
                i_ = j;
                while (i_ < s_.size() && std::isdigit(static_cast<unsigned char>(s_[i_]))) ++i_;
            }
        }
        if (i_ < s_.size() && id_char(static_cast<unsigned char>(s_[i_])))
            fail("Zahl mit Buchstaben: " + s_.substr(start, i_ + 1 - start));
        emit(s_.substr(start, i_ - start));
    }

    void word() {
        const size_t start = i_;
        while (i_ < s_.size() && id_char(static_cast<unsigned char>(s_[i_]))) ++i_;
        const std::string_view w(s_.data() + start, i_ - start);
        if (after_dot()) {  // the part after "table." is always a name
            emit(identifier(w), true);
            name_done();
            return;
        }
        const std::string u = text::ascii_upper(w);
        const bool call = peek_after_blanks(i_) == '(';
        if (u == "COUNT" && call) {
            emit("count");
            glue_next_ = true;  // "count(" reads better
            return;
        }
        if (u == "SELECT") {
            if (seen_select_) fail("Unterabfragen werden nicht unterstützt");
            seen_select_ = true;
        } else if (!seen_select_) {
            fail("nur SELECT-Anweisungen werden unterstützt");
        }
        if (u == "TRUE") return emit("-1");
        if (u == "FALSE") return emit("0");
        if (is_in(u, kKeywords)) {
            if (call && !is_in(u, kBeforeParen)) fail("Funktion nicht unterstützt: " + std::string(w));
            return emit(u);
        }
        if (is_in(u, kRejected)) fail("nicht unterstützt: " + std::string(w));
        if (call) fail("Funktion nicht unterstützt: " + std::string(w));
        emit(identifier(w));
        name_done();
    }

    void punctuation() {
        const char c = s_[i_];
        const char n = i_ + 1 < s_.size() ? s_[i_ + 1] : 0;
        if (c == '<' && (n == '>' || n == '=')) {
            i_ += 2;
            return emit(std::string{c, n});
        }
        if (c == '>' && n == '=') {
            i_ += 2;
            return emit(">=");
        }
        if (c == ';') {
            ++i_;
            if (ended_) fail("mehrere \";\"");
            ended_ = true;
            return;
        }
        if (c == '.') {
            if (!last_was_name_) fail("\".\" ohne Tabellennamen davor");
            ++i_;
            emit(".", true);
            glue_next_ = true;
            dot_ = true;
            return;
        }
        if (c == '*' && dot_) {  // table.*
            ++i_;
            emit("*", true);
            dot_ = false;
            return;
        }
        if (std::string_view("=<>(),*+-/?").find(c) != std::string_view::npos) {
            ++i_;
            return emit(std::string(1, c));
        }
        fail(std::string("unerwartetes Zeichen '") + c + "'");
    }

    // Bookkeeping for "name.name": whether the token just read follows a ".".
    bool after_dot() {
        const bool d = dot_;
        dot_ = false;
        return d;
    }
    void name_done() { last_was_name_ = true; }

    std::string_view original_;
    std::string s_;
    size_t i_ = 0;
    std::string out_;
    bool glue_next_ = false;
    bool dot_ = false;
    bool last_was_name_ = false;
    bool ended_ = false;
    bool seen_select_ = false;
};

}  // namespace

std::string translate_jet_sql(std::string_view jet) { return Translator(jet).run(); }

}  // namespace ringolan::db
