#include "site/statement_parser.h"

#include <algorithm>
#include <unordered_set>

namespace ringolan::site {

namespace {

// Work allowed for one statement (characters scanned while trying readings of its quotes);
// bounds the time a hostile line can take.
constexpr std::size_t kStepBudget = 20'000'000;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

bool is_code_char(char c) {
    return is_digit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

// Sign, digits with at most one ".", at least one digit, an optional exponent.
bool is_number(std::string_view t) {
    std::size_t i = 0;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
    std::size_t digits = 0;
    while (i < t.size() && is_digit(t[i])) ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && is_digit(t[i])) ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '-' || t[i] == '+')) ++i;
        std::size_t exp_digits = 0;
        while (i < t.size() && is_digit(t[i])) ++i, ++exp_digits;
        if (exp_digits == 0) return false;
    }
    return i == t.size();
}

std::string unescape(std::string_view body) {
    std::string out;
    out.reserve(body.size());
    for (std::size_t i = 0; i < body.size(); ++i) {
        if (body[i] == '\\' && i + 1 < body.size() && body[i + 1] == '\'') continue;
        out += body[i];
    }
    return out;
}

struct Span {
    Value::Kind kind;
    std::size_t begin, end;  // the value's text without its quotes
};

// Parses the statement that starts at `begin` into spans (emptied first); tries the readings of
// ambiguous quotes in order of likelihood and remembers value positions from which no reading
// works.
class StatementParser {
public:
    StatementParser(std::string_view s, std::size_t begin, std::vector<Span>& spans)
        : s_(s), begin_(begin), limit_(std::min(s.size(), begin + kMaxStatementBytes)), spans_(spans) {
        spans_.clear();
    }

    // True with the values and `end` set; false with `reason` set.
    bool parse() {
        if (s_.substr(begin_, 3) != "#*i") return fail(begin_, "expected \"#*i\" at the start of a statement");
        std::size_t p = begin_ + 3;
        while (p < limit_ && is_code_char(s_[p])) ++p;
        if (p == begin_ + 3) return fail(p, "missing table code after \"#*i\"");
        code = s_.substr(begin_ + 3, p - begin_ - 3);
        if (p >= limit_ || s_[p] != '#') return fail(p, "expected \"#*\" after the table code");
        if (p + 1 < limit_ && s_[p + 1] == ')') return end_at(p + 1);  // a row without fields
        if (p + 1 >= limit_ || s_[p + 1] != '*') return fail(p, "expected \"#*\" after the table code");
        return values_from(p + 2);
    }

    // The values found, as views into the text, once the whole statement has parsed.
    void views(std::vector<ValueView>& out) const {
        out.clear();
        for (const Span& v : spans_) {
            const std::string_view t = s_.substr(v.begin, v.end - v.begin);
            if (v.kind == Value::Kind::text) out.push_back({Value::Kind::text, t, t.find("\\'") != t.npos});
            else out.push_back({t.empty() ? Value::Kind::null : Value::Kind::number, t, false});
        }
    }

    std::string_view code;
    std::size_t end = 0;
    std::size_t reason_pos = 0;
    std::string reason;

private:
    bool fail(std::size_t pos, std::string why) {
        if (reason.empty() || pos >= reason_pos) {
            reason_pos = pos;
            reason = std::move(why);
        }
        return false;
    }

    bool spend(std::size_t steps) {
        steps_ += steps;
        return steps_ <= kStepBudget;
    }

    bool values_from(std::size_t pos) {
        if (failed_.contains(pos)) return false;
        if (spans_.size() >= kMaxValues) return fail(pos, "more than " + std::to_string(kMaxValues) + " values");
        const bool ok = pos < limit_ && s_[pos] == '\'' ? quoted(pos) : bare(pos);
        if (!ok) failed_.insert(pos);
        return ok;
    }

    bool after_value(std::size_t p) {
        if (p >= limit_) return fail(p, "statement does not end with \");\"");
        if (s_[p] == ',') return values_from(p + 1);
        if (s_[p] == ')') return end_at(p);
        return fail(p, "expected \",\" or \")\" after a value");
    }

    bool end_at(std::size_t p) {
        if (p + 1 >= s_.size() || s_[p + 1] != ';') return fail(p + 1, "expected \";\" after \")\"");
        std::size_t q = p + 2;
        if (q == s_.size()) return finish(q);
        if (s_[q] == '\n') q += 1;
        else if (s_[q] == '\r' && q + 1 < s_.size() && s_[q + 1] == '\n') q += 2;
        else return fail(q, "expected a line end after \");\"");
        // The end of the dump, blank lines (skipped by the caller) or the next statement.
        if (q == s_.size() || s_[q] == '\r' || s_[q] == '\n' || s_.substr(q, 3) == "#*i") return finish(q);
        return fail(q, "expected a statement after the line end");
    }

    bool finish(std::size_t q) {
        end = q;
        return true;
    }

    bool quoted(std::size_t pos) {
        const std::size_t body = pos + 1;
        // First reading: the first unescaped quote before "," or ")" closes the value.
        // Second: a quote after "\" closes it (the text ended with a backslash).
        // A value read with an unescaped quote inside (fixed-length text) stays on its line.
        for (int pass = 0; pass < 2; ++pass) {
            bool line_break = false, bare_quote = false;
            for (std::size_t q = body; q < limit_; ++q) {
                if (!spend(1)) return fail(q, "statement too ambiguous to read");
                if (s_[q] == '\n') {
                    if (s_.substr(q + 1, 3) == "#*i") break;  // a new statement begins
                    line_break = true;
                }
                if (s_[q] != '\'') continue;
                const bool escaped = q > body && s_[q - 1] == '\\';
                if (line_break && bare_quote) break;
                const bool closes = q + 1 < s_.size() && (s_[q + 1] == ',' || s_[q + 1] == ')');
                if (closes && escaped == (pass == 1)) {
                    spans_.push_back({Value::Kind::text, body, q});
                    if (after_value(q + 1)) return true;
                    spans_.pop_back();
                    if (steps_ > kStepBudget) return false;
                }
                if (!escaped) bare_quote = true;
            }
        }
        return fail(pos, "quoted value without its closing quote");
    }

    bool bare(std::size_t pos) {
        std::size_t q = pos;
        while (q < limit_ && s_[q] != ',' && s_[q] != ')') {
            if (s_[q] == '\'' || s_[q] == '\r' || s_[q] == '\n')
                return fail(q, "unexpected character in an unquoted value");
            ++q;
        }
        const std::string_view token = s_.substr(pos, q - pos);
        if (!token.empty() && !is_number(token))
            return fail(pos, "value is neither quoted nor a number: " + std::string(token.substr(0, 40)));
        spans_.push_back({Value::Kind::number, pos, q});
        if (after_value(q)) return true;
        spans_.pop_back();
        return false;
    }

    std::string_view s_;
    std::size_t begin_;
    std::size_t limit_;
    std::size_t steps_ = 0;
    std::unordered_set<std::size_t> failed_;
    std::vector<Span>& spans_;
};

}  // namespace

std::string ValueView::decoded() const { return escaped ? unescape(text) : std::string(text); }

Statement statement_of(const StatementView& view) {
    Statement s{std::string(view.code), {}, view.line};
    s.values.reserve(view.values.size());
    for (const ValueView& v : view.values) s.values.push_back(Value{v.kind, v.decoded()});
    return s;
}

namespace {

// Reads the statements of buf from pos on while a window of text is left ahead of the one
// being read (all of them when `whole`, buf then being the complete dump). Returns with pos at
// the first statement not read.
void parse_held(std::string_view buf, bool whole, std::size_t window, std::size_t& pos, std::size_t& line,
                std::vector<Span>& spans, StatementView& statement,
                const std::function<void(const StatementView&)>& sink) {
    auto advance = [&](std::size_t to) {
        for (; pos < to; ++pos)
            if (buf[pos] == '\n') ++line;
    };
    while (whole || buf.size() - pos >= window) {
        std::size_t q = pos;
        while (q < buf.size() && (buf[q] == '\r' || buf[q] == '\n')) ++q;  // blank lines
        advance(q);
        if (pos == buf.size()) return;
        StatementParser parser(buf, pos, spans);
        if (!parser.parse()) {
            std::size_t at = line;
            for (std::size_t i = pos; i < parser.reason_pos && i < buf.size(); ++i)
                if (buf[i] == '\n') ++at;
            throw DumpError(at, parser.reason);
        }
        statement.code = parser.code;
        parser.views(statement.values);
        statement.line = line;
        sink(statement);
        advance(parser.end);
    }
}

}  // namespace

void parse_dump_views(const DumpSource& source, const std::function<void(const StatementView&)>& sink) {
    // The buffer keeps at least a window of text ahead of the statement being read (unless
    // the dump ends first), so a statement never reaches the end of what has been read. Text
    // already read is dropped once there are several windows of it, so little is moved.
    constexpr std::size_t kWindow = 2 * kMaxStatementBytes;
    constexpr std::size_t kDropAt = 8 * kWindow;
    constexpr std::size_t kChunk = 256 * 1024;
    std::string buf;
    std::size_t pos = 0;
    std::size_t line = 1;
    std::vector<Span> spans;
    StatementView statement;
    bool eof = false;
    while (!eof) {
        if (pos >= kDropAt) {
            buf.erase(0, pos);
            pos = 0;
        }
        while (!eof && buf.size() - pos < kWindow) {
            const std::size_t old = buf.size();
            buf.resize(old + kChunk);
            const std::size_t n = source(buf.data() + old, kChunk);
            buf.resize(old + n);
            eof = n == 0;
        }
        parse_held(buf, eof, kWindow, pos, line, spans, statement, sink);
    }
}

void parse_text_views(std::string_view text, const std::function<void(const StatementView&)>& sink) {
    std::size_t pos = 0, line = 1;
    std::vector<Span> spans;
    StatementView statement;
    parse_held(text, true, 0, pos, line, spans, statement, sink);
}

void parse_dump_stream(const DumpSource& source, const std::function<void(Statement&&)>& sink) {
    parse_dump_views(source, [&](const StatementView& view) { sink(statement_of(view)); });
}

void parse_dump(std::string_view dump, const std::function<void(Statement&&)>& sink) {
    parse_text_views(dump, [&](const StatementView& view) { sink(statement_of(view)); });
}

Statement parse_statement(std::string_view line) {
    std::vector<Statement> found;
    parse_dump(line, [&](Statement&& st) { found.push_back(std::move(st)); });
    if (found.size() != 1)
        throw DumpError(1, found.empty() ? "no statement" : "more than one statement");
    return std::move(found.front());
}

}  // namespace ringolan::site
