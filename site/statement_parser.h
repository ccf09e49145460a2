// Reader of the upload's statement lines: "#*i" + code + "#*" + values + ")" + ";", one per row,
// each followed by a line end. Quoted values may span line breaks and carry "\'" for a quote.
#pragma once

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace ringolan::site {

struct Value {
    enum class Kind { null, text, number };
    Kind kind = Kind::null;
    std::string text;  // the decoded text of a quoted value, the digits of a bare number

    static Value null_value() { return {}; }
    static Value text_value(std::string t) { return {Kind::text, std::move(t)}; }
    static Value number_value(std::string t) { return {Kind::number, std::move(t)}; }
    bool operator==(const Value&) const = default;
};

struct Statement {
    std::string code;           // table code between "#*i" and "#*"
    std::vector<Value> values;  // empty for a row whose fields were all skipped ("#*ic#);")
    std::size_t line = 0;       // line of the file where the statement starts, from 1
};

class DumpError : public Error {
public:
    DumpError(std::size_t line, const std::string& reason)
        : Error("line " + std::to_string(line) + ": " + reason), line_(line) {}
    std::size_t line() const { return line_; }

private:
    std::size_t line_;
};

// Longest statement accepted (a value spanning lines included) and most values in one.
inline constexpr std::size_t kMaxStatementBytes = 256 * 1024;
inline constexpr std::size_t kMaxValues = 1000;

// Reads every statement of a dump, in order, handing each to `sink`. Throws DumpError for the
// first statement that does not parse; statements before it have been handed over already.
//
// Value forms: a quoted value "'...'" gives text with every "\'" turned into "'" (other
// backslashes stay); a bare number (sign, digits, "." and exponent) gives a number; an empty
// bare value (a NULL written without delimiters) gives null. The format is ambiguous where a
// text ends in "\" (its closing quote then reads like an escaped one) or a fixed-length text
// holds an unescaped quote: "\'" is read as an escape and an unescaped quote followed by ","
// or ")" as the end of the value, unless only the other reading lets the statement parse.
// A quoted value never runs past a line break that is followed by "#*i".
void parse_dump(std::string_view dump, const std::function<void(Statement&&)>& sink);

// Gives up to `size` further bytes of a dump into `out`; 0 at its end.
using DumpSource = std::function<std::size_t(char* out, std::size_t size)>;

// parse_dump over a dump read in pieces; holds at most about 18 * kMaxStatementBytes of it at a
// time. Blank lines between statements are skipped.
void parse_dump_stream(const DumpSource& source, const std::function<void(Statement&&)>& sink);

// A value as it stands in the dump: text still holds "\'" for a quote when escaped is set.
struct ValueView {
    Value::Kind kind = Value::Kind::null;
    std::string_view text;
    bool escaped = false;
    // The text as Value holds it.
    std::string decoded() const;
};

// A statement as it stands in the dump; the views are valid during the call of the sink only.
struct StatementView {
    std::string_view code;
    std::vector<ValueView> values;
    std::size_t line = 0;
};

// parse_dump_stream without copying the values out of the text read.
void parse_dump_views(const DumpSource& source, const std::function<void(const StatementView&)>& sink);

// parse_dump_views over a dump held whole: the views point into `text`.
void parse_text_views(std::string_view text, const std::function<void(const StatementView&)>& sink);

// The statement a view shows, its values decoded.
Statement statement_of(const StatementView& view);

// One statement alone, with or without its line end.
Statement parse_statement(std::string_view line);

}  // namespace ringolan::site
