// Statements reach the query only as compile-time text: every set_command( in the page and upload
// sources takes a string literal or a constexpr constant of the same file, so no request text can
// become SQL. The statements of the upload's table list are the one named exception.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// Arguments allowed although they are not a literal or a constant of their file: file name and
// argument text. Each entry must be justified here.
//  - upload/upload_run.cpp "t.statement": t runs over upload_tables(), whose entries are the
//    constexpr tables kAllStarters, kStartersWithResults and kTables of the same file;
//    upload/live_dump.cpp dumps the same upload_tables().
//  - api/lists.cpp and api/shooters.cpp "statement": a parameter of file-local helpers, which
//    their callers in the same file give the shared constants of pages/statements.h or the
//    file's own constexpr counts.
const std::set<std::pair<std::string, std::string>> kTrustedArguments = {
    {"upload_run.cpp", "t.statement"},
    {"live_dump.cpp", "t.statement"},
    {"lists.cpp", "statement"},
    {"shooters.cpp", "statement"},
};

struct Finding {
    std::string file;
    std::string argument;
    std::string why;
};

// Source text with comments removed (string literals are kept as they are).
std::string strip_comments(const std::string& s) {
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '"' || s[i] == '\'') {
            const char q = s[i];
            out += s[i++];
            while (i < s.size() && s[i] != q) {
                if (s[i] == '\\' && i + 1 < s.size()) out += s[i++];
                out += s[i++];
            }
            if (i < s.size()) out += s[i];
        } else if (s.compare(i, 2, "//") == 0) {
            while (i < s.size() && s[i] != '\n') ++i;
            out += '\n';
        } else if (s.compare(i, 2, "/*") == 0) {
            const size_t end = s.find("*/", i + 2);
            i = end == std::string::npos ? s.size() : end + 1;
            out += ' ';
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string trim(std::string s) {
    const auto b = s.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "";
    return s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1);
}

// One or more adjacent plain string literals and nothing else.
bool is_literal(const std::string& arg) {
    static const std::regex literal(R"(^("([^"\\]|\\.)*"\s*)+$)");
    return std::regex_match(arg, literal);
}

// The set_command( arguments of one source text that are neither a literal, nor an identifier
// declared constexpr in that text, nor listed as trusted for file_name.
std::vector<Finding> check_source(const std::string& file_name, const std::string& source) {
    const std::string text = strip_comments(source);
    std::vector<Finding> out;
    const std::string call = "set_command(";
    for (size_t at = text.find(call); at != std::string::npos; at = text.find(call, at + 1)) {
        // A declaration or definition of set_command itself is not a call.
        const std::string before = trim(text.substr(0, at));
        if (before.ends_with("void") || before.ends_with("Query::")) continue;
        size_t i = at + call.size(), depth = 1;
        bool in_string = false;
        for (; i < text.size() && depth > 0; ++i) {
            const char c = text[i];
            if (in_string) {
                if (c == '\\') ++i;
                else if (c == '"') in_string = false;
            } else if (c == '"') {
                in_string = true;
            } else if (c == '(') {
                ++depth;
            } else if (c == ')') {
                --depth;
            }
        }
        std::string arg = trim(text.substr(at + call.size(), i - 1 - at - call.size()));
        if (arg.starts_with("pages::")) arg.erase(0, 7);  // the statements shared by pages and API
        if (is_literal(arg)) continue;
        if (kTrustedArguments.count({file_name, arg})) continue;
        static const std::regex identifier(R"(^[A-Za-z_][A-Za-z_0-9]*$)");
        if (!std::regex_match(arg, identifier)) {
            out.push_back({file_name, arg, "not a literal or a named constant"});
            continue;
        }
        const std::regex declared("constexpr[^;=]*[\\s&*]" + arg + R"(\s*(\[\s*\])?\s*=)");
        if (!std::regex_search(text, declared)) out.push_back({file_name, arg, "not declared constexpr here"});
    }
    return out;
}

std::string read_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(StatementSources, PagesAndUploadSetOnlyCompileTimeStatements) {
    size_t calls = 0;
    // A file including the shared statements may name the constants declared there.
    const std::string shared = read_text(fs::path(RINGOLAN_SOURCE_DIR) / "pages" / "statements.h");
    ASSERT_NE(shared.find("constexpr"), std::string::npos);
    for (const char* folder : {"pages", "upload", "api"}) {
        const fs::path dir = fs::path(RINGOLAN_SOURCE_DIR) / folder;
        ASSERT_TRUE(fs::is_directory(dir)) << dir;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto ext = entry.path().extension();
            if (ext != ".cpp" && ext != ".h") continue;
            std::string source = read_text(entry.path());
            for (size_t at = source.find("set_command("); at != std::string::npos;
                 at = source.find("set_command(", at + 1))
                ++calls;
            if (source.find("#include \"pages/statements.h\"") != std::string::npos) source += "\n" + shared;
            for (const Finding& f : check_source(entry.path().filename().string(), source))
                ADD_FAILURE() << folder << "/" << f.file << ": set_command(" << f.argument << "): " << f.why;
        }
    }
    // The pages run about twenty statements; finding none would mean the scan looks at nothing.
    EXPECT_GE(calls, 20u);
}

TEST(StatementSources, TheCheckRejectsStatementsBuiltAtRunTime) {
    const std::string good =
        "constexpr std::string_view kList = \"SELECT * FROM wettb_def WHERE ID = ?\";\n"
        "constexpr char kRaw[] = \"SELECT 1\";\n"
        "void f(Query& q) { q.set_command(kList); q.set_command(kRaw);\n"
        "  q.set_command(\"SELECT a \" \"FROM b WHERE c = ?\"); q.set_command( kList );\n"
        "  // q.set_command(std::string(\"x\") + query);\n"
        "}\n";
    EXPECT_TRUE(check_source("page.cpp", good).empty());

    const std::vector<std::string> bad = {
        "void f(Query& q, std::string_view query) { q.set_command(query); }",
        "void f(Query& q, std::string nr) { q.set_command(\"SELECT * FROM verein WHERE nr = '\" + nr + \"'\"); }",
        "const std::string kBuilt = make(); void f(Query& q) { q.set_command(kBuilt); }",
        "std::string_view kLoose = \"SELECT 1\"; void f(Query& q) { q.set_command(kLoose); }",
        "void f(Query& q, std::string s) { q.set_command(std::string(\"SELECT \") + s); }",
        "void f(Query& q, std::string s) { q.set_command(s.c_str()); }",
        "void f(Query& q, std::string s) { q.set_command(\"SELECT (\" + s + \")\"); }",
    };
    for (const auto& source : bad) EXPECT_EQ(check_source("page.cpp", source).size(), 1u) << source;

    // The trusted argument is trusted in its own file only.
    const std::string table_loop = "for (auto& t : list) query.set_command(t.statement);";
    EXPECT_TRUE(check_source("upload_run.cpp", table_loop).empty());
    EXPECT_EQ(check_source("vstphp.cpp", table_loop).size(), 1u);
}

}  // namespace
