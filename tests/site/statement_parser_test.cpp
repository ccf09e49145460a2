// The statement-line reader: every value form, escapes, NULLs, lines spanning line breaks,
// the ambiguous quote readings and lines that must be refused.
#include "site/statement_parser.h"

#include <gtest/gtest.h>

#include <chrono>

using namespace ringolan::site;

namespace {

Value T(std::string s) { return Value::text_value(std::move(s)); }
Value N(std::string s) { return Value::number_value(std::move(s)); }
Value Null() { return Value::null_value(); }

std::vector<Statement> all(std::string_view dump) {
    std::vector<Statement> out;
    parse_dump(dump, [&](Statement&& s) { out.push_back(std::move(s)); });
    return out;
}

// The line number of the DumpError a dump raises, or 0 when it parses.
std::size_t error_line(std::string_view dump) {
    try {
        all(dump);
    } catch (const DumpError& e) {
        return e.line();
    }
    return 0;
}

}  // namespace

TEST(StatementValues, ExampleRowOfIntegerTextAndReal) {
    // 17 with NumericDelim "'", O'Neil with its quote escaped, 9.75 written as 9.8.
    const Statement s = parse_statement("#*ix#*'17','O\\'Neil',9.8);");
    EXPECT_EQ(s.code, "x");
    EXPECT_EQ(s.values, (std::vector<Value>{T("17"), T("O'Neil"), N("9.8")}));
    EXPECT_EQ(s.line, 1u);
}

TEST(StatementValues, BareNumbersOfEveryKind) {
    // Reals in one-decimal form, the reversed yes/no values, exponent form, currency.
    const Statement s = parse_statement("#*isc#*12346.0,0.0,-0.3,-1,0,1.2346E+05,5e-3,+7);\r\n");
    EXPECT_EQ(s.code, "sc");
    EXPECT_EQ(s.values, (std::vector<Value>{N("12346.0"), N("0.0"), N("-0.3"), N("-1"), N("0"), N("1.2346E+05"),
                                            N("5e-3"), N("+7")}));
}

TEST(StatementValues, QuotedDatesGuidsAndEmptyDelimiters) {
    const Statement s =
        parse_statement("#*iva#*'09.12.2026 14:30:05','{0A1B2C3D-0000-1111-2222-333344445555}','');");
    EXPECT_EQ(s.values, (std::vector<Value>{T("09.12.2026 14:30:05"), T("{0A1B2C3D-0000-1111-2222-333344445555}"),
                                            T("")}));
}

TEST(StatementValues, NullsWithoutDelimitersAreEmptyBareValues) {
    // A NULL currency value is written as nothing at all, wherever it stands.
    EXPECT_EQ(parse_statement("#*ic#*,'a',);").values, (std::vector<Value>{Null(), T("a"), Null()}));
    EXPECT_EQ(parse_statement("#*ic#*);").values, (std::vector<Value>{Null()}));
    // A row whose fields were all skipped loses the "*" of "#*" to the removed last character.
    EXPECT_TRUE(parse_statement("#*ic#);").values.empty());
}

TEST(StatementEscapes, QuotesBackslashesAndOtherCharacters) {
    // A single quote: quote, backslash, quote, quote.
    EXPECT_EQ(parse_statement("#*iv#*'\\'');").values, (std::vector<Value>{T("'")}));
    // Backslashes before anything but the delimiter stay, as do commas and parentheses.
    EXPECT_EQ(parse_statement("#*iv#*'C:\\temp\\n','a,b)c;');").values,
              (std::vector<Value>{T("C:\\temp\\n"), T("a,b)c;")}));
    // The text a\'b is dumped as a\\'b (one backslash inserted before its quote).
    EXPECT_EQ(parse_statement("#*iv#*'a\\\\'b');").values, (std::vector<Value>{T("a\\'b")}));
    // 8-bit bytes pass unchanged.
    EXPECT_EQ(parse_statement("#*iv#*'M\xfcller');").values, (std::vector<Value>{T("M\xfcller")}));
}

TEST(StatementEscapes, TextEndingInBackslashIsReadWhenNothingElseFits) {
    // "C:\" dumped gives 'C:\' whose closing quote looks escaped; only closing there parses.
    EXPECT_EQ(parse_statement("#*iv#*'C:\\',5);").values, (std::vector<Value>{T("C:\\"), N("5")}));
    EXPECT_EQ(parse_statement("#*iv#*'C:\\');").values, (std::vector<Value>{T("C:\\")}));
}

TEST(StatementEscapes, UnescapedQuoteOfFixedLengthTextStaysInTheValue) {
    // Fixed-length text is written without escaping; a quote not followed by "," or ")" is text.
    EXPECT_EQ(parse_statement("#*iv#*'a'b',1);").values, (std::vector<Value>{T("a'b"), N("1")}));
}

TEST(StatementLines, ValuesSpanningLineBreaks) {
    const std::vector<Statement> s =
        all("#*iv#*'1','Zwei\r\nZeilen');\r\n#*iv#*'2','a\nb\r\n\r\nc');\r\n#*iv#*'3','x');\r\n");
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0].values[1], T("Zwei\r\nZeilen"));
    EXPECT_EQ(s[1].values[1], T("a\nb\r\n\r\nc"));
    EXPECT_EQ(s[2].values[0], T("3"));
    // Lines of the file where each statement starts.
    EXPECT_EQ(s[0].line, 1u);
    EXPECT_EQ(s[1].line, 3u);
    EXPECT_EQ(s[2].line, 7u);  // three line breaks inside the second
}

TEST(StatementLines, ALineEndingInsideAValueThatLooksLikeAStatementEnd) {
    // The text "x');" + CRLF + "y" is dumped with its quote escaped and stays one value.
    const std::vector<Statement> s = all("#*iv#*'x\\');\r\ny');\r\n#*iv#*'2');\r\n");
    ASSERT_EQ(s.size(), 2u);
    EXPECT_EQ(s[0].values, (std::vector<Value>{T("x');\r\ny")}));
}

TEST(StatementLines, LineEndsAndEmptyDumps) {
    EXPECT_TRUE(all("").empty());
    EXPECT_EQ(all("#*iv#*'1');\n#*iv#*'2');").size(), 2u);  // LF alone, no final line end
    EXPECT_EQ(all("#*iv#*'1');\r\n\r\n\r\n#*iv#*'2');\r\n\r\n").size(), 2u);  // blank lines
}

TEST(StatementErrors, MalformedLinesAreRefusedWithTheirLine) {
    EXPECT_EQ(error_line("insert into v values ('1');"), 1u);
    EXPECT_EQ(error_line("#*i#*'1');"), 1u);              // no table code
    EXPECT_EQ(error_line("#*iv'1');"), 1u);               // no "#*"
    EXPECT_EQ(error_line("#*iv#*'1')"), 1u);              // no ";"
    EXPECT_EQ(error_line("#*iv#*'1';"), 1u);              // no ")"
    EXPECT_EQ(error_line("#*iv#*'1);"), 1u);              // quote never closed
    EXPECT_EQ(error_line("#*iv#*abc);"), 1u);             // bare value that is no number
    EXPECT_EQ(error_line("#*iv#*1.2.3);"), 1u);
    EXPECT_EQ(error_line("#*iv#*1e);"), 1u);
    EXPECT_EQ(error_line("#*iv#*'1'x);"), 1u);            // text after the closing quote
    EXPECT_EQ(error_line("#*iv#*'1'); junk\r\n"), 1u);     // text after the statement
    EXPECT_EQ(error_line("#*iv#*'1');\rX"), 1u);          // a lone CR is no line end
    EXPECT_EQ(error_line("#*iv#*'1',\r\n'2');"), 1u);       // a bare line break between values
}

TEST(StatementErrors, ErrorNamesTheLineAfterGoodStatementsWereHandedOver) {
    std::size_t handed = 0;
    try {
        parse_dump("#*iv#*'1');\r\n#*iv#*'2','a\r\nb');\r\n#*iv#*'3',x);\r\n",
                   [&](Statement&&) { ++handed; });
        FAIL() << "no error";
    } catch (const DumpError& e) {
        EXPECT_EQ(e.line(), 4u);
        EXPECT_NE(std::string(e.what()).find("line 4: value is neither quoted nor a number"), std::string::npos)
            << e.what();
    }
    EXPECT_EQ(handed, 2u);
}

TEST(StatementErrors, AnUnclosedValueDoesNotSwallowTheNextStatement) {
    // Read as fixed-length text, the stray quote would join both lines into one value.
    EXPECT_EQ(error_line("#*iv#*'1','SV'););\r\n#*iv#*'2','x');\r\n"), 1u);
}

TEST(StatementErrors, LimitsOnValuesAndHostileLines) {
    std::string many = "#*iv#*";
    for (std::size_t i = 0; i <= kMaxValues; ++i) many += "1,";
    many += "1);";
    EXPECT_NE(error_line(many), 0u);

    // Many ambiguous quotes and no ending: refused quickly, not after trying every reading.
    std::string hostile = "#*iv#*'";
    for (int i = 0; i < 40000; ++i) hostile += "\\',',";
    const auto start = std::chrono::steady_clock::now();
    EXPECT_NE(error_line(hostile), 0u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

TEST(StatementErrors, SingleStatementReaderWantsExactlyOne) {
    EXPECT_THROW(parse_statement(""), DumpError);
    EXPECT_THROW(parse_statement("#*iv#*'1');\r\n#*iv#*'2');"), DumpError);
}

namespace {

// A dump of `rows` statements with values spanning lines, and what each must read back as.
struct Generated {
    std::string dump;
    std::vector<Statement> expected;
};

Generated generate(std::size_t rows) {
    Generated g;
    std::size_t line = 1;
    for (std::size_t i = 0; i < rows; ++i) {
        const std::string text = "Name " + std::to_string(i) + (i % 3 == 0 ? "\r\nzweite Zeile" : "") +
                                 (i % 5 == 0 ? " O'Neil" : "");
        std::string escaped;
        for (char c : text) escaped += c == '\'' ? std::string("\\'") : std::string(1, c);
        const std::string real = std::to_string(i % 100) + ".5";
        g.dump += "#*isc#*'" + std::to_string(i) + "','" + escaped + "'," + real + ",);\r\n";
        g.expected.push_back(Statement{"sc", {T(std::to_string(i)), T(text), N(real), Null()}, line});
        line += 1 + (i % 3 == 0 ? 1 : 0);
    }
    return g;
}

void expect_same(const std::vector<Statement>& got, const std::vector<Statement>& want) {
    ASSERT_EQ(got.size(), want.size());
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].code, want[i].code) << i;
        EXPECT_EQ(got[i].values, want[i].values) << i;
        EXPECT_EQ(got[i].line, want[i].line) << i;
    }
}

// Hands the dump over in pieces of the given sizes, in turn.
DumpSource pieces(const std::string& dump, std::vector<std::size_t> sizes) {
    return [&dump, sizes, at = std::size_t(0), turn = std::size_t(0)](char* out, std::size_t size) mutable {
        const std::size_t n = std::min({size, sizes[turn++ % sizes.size()], dump.size() - at});
        std::copy_n(dump.data() + at, n, out);
        at += n;
        return n;
    };
}

}  // namespace

TEST(StatementStream, ReadsADumpLargerThanItsWindowInAnyPieces) {
    // about 1.3 MB (several windows) in small pieces, about 5 MB (text already read is dropped)
    // in larger ones
    for (const auto& [count, sizes] : {std::pair<std::size_t, std::vector<std::size_t>>{40000, {1, 3, 7}},
                                       {160000, {4097}},
                                       {160000, {kMaxStatementBytes + 13, 5}}}) {
        const Generated g = generate(count);
        ASSERT_GT(g.dump.size(), count / 10000 * kMaxStatementBytes);
        std::vector<Statement> got;
        parse_dump_stream(pieces(g.dump, sizes), [&](Statement&& s) { got.push_back(std::move(s)); });
        expect_same(got, g.expected);
    }
    const Generated g = generate(100);
    std::vector<Statement> whole;
    parse_dump(g.dump, [&](Statement&& s) { whole.push_back(std::move(s)); });
    expect_same(whole, g.expected);
}

TEST(StatementStream, ErrorsFarIntoTheDumpNameTheirLine) {
    Generated g = generate(30000);
    const std::size_t bad_line = g.expected.back().line + 2;  // the last one is one line long
    g.dump += "#*isc#*'1','x');\r\n#*isc#*'1',x);\r\n";
    std::size_t handed = 0;
    try {
        parse_dump_stream(pieces(g.dump, {65536}), [&](Statement&&) { ++handed; });
        FAIL() << "no error";
    } catch (const DumpError& e) {
        EXPECT_EQ(e.line(), bad_line);
    }
    EXPECT_EQ(handed, 30001u);
}

