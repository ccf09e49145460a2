// Hostile request values against every page of a generated competition, through the request
// handler: values built to break out of SQL give either the page of a harmless value that matches
// nothing or the plain German input error, never a database message; markup in parameters and
// paths comes back escaped.
#include <gtest/gtest.h>

#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "common/escape.h"
#include "db/query/query.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/request_handler.h"
#include "tests/pages/page_fixture.h"
#include "tools/mkdemo/demo.h"

namespace {

namespace fs = std::filesystem;
using namespace ringolan;
using server::Request;
using server::Response;

const std::string kInputError = "Ung\xFCltige";  // Windows-1252, as the error text is

// A page address with {0}, {1}, {2} standing for its parameter values.
struct PageCase {
    std::string path;
    std::string query;
    std::vector<std::string> matching;  // values that select rows of the demo file
    std::vector<std::string> missing;   // harmless values that select nothing
};

std::string fill(std::string query, const std::vector<std::string>& values) {
    for (size_t i = 0; i < values.size(); ++i) {
        const std::string mark = "{" + std::to_string(i) + "}";
        for (size_t at = query.find(mark); at != std::string::npos; at = query.find(mark, at + values[i].size()))
            query.replace(at, mark.size(), values[i]);
    }
    return query;
}

size_t count(std::string_view text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Words of the database engine and of statements; none belongs in any answer.
const std::vector<std::string> kDatabaseWords = {"SELECT", "select ", " FROM ", " from ", "WHERE", "where ",
                                                 "sqlite", "SQLite", "syntax error", "no such", "unrecognized token",
                                                 "near \"", "QueryError", "constraint"};

class HostileRequests : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const fs::path file = test_pages::test_dir() / "hostile_demo.mdb";
        demo::DemoOptions options;
        options.shooters = 60;
        demo::write_demo(options, file);
        snapshot_ = new std::shared_ptr<const db::Snapshot>(test_pages::snapshot_of(file));
    }
    static void TearDownTestSuite() { delete snapshot_; }

    // The first value of the first column of a statement on the demo file.
    static std::string first_value(std::string_view statement) {
        db::Query q;
        q.set_command(statement);
        q.open(**snapshot_);
        EXPECT_FALSE(q.at_end()) << statement;
        return q.field(size_t(0)).as_text();
    }

    static Response handle(const std::string& path, const std::string& query) {
        server::HandlerEnv env;
        env.web_root = test_pages::test_dir() / "hostile_web";
        env.snapshot = [] { return *snapshot_; };
        Request request;
        request.command = "GET";
        request.document_path = path;
        request.query = query;
        return server::run_handler(request, [&](const Request& q, Response& r) { HandleRequest(env, q, r); });
    }

    // The pages and their parameters, with values taken from the demo file.
    std::vector<PageCase> pages() {
        const std::string club = first_value("SELECT Vereinsnr FROM starter ORDER BY Startnr");
        const std::string shooter = first_value("SELECT Startnr FROM ergebnis ORDER BY erg_id");
        const std::string list = first_value("SELECT ErglistID FROM raenge ORDER BY ErglistID");
        const std::string team_list = first_value("SELECT Wettb_id FROM mannschaft ORDER BY Wettb_id");
        const std::string competition = first_value("SELECT DP_ID FROM ergebnis ORDER BY erg_id");
        const std::string target = first_value("SELECT Sch_id FROM scheiben ORDER BY Sch_id");
        const std::string team_club = first_value("SELECT vereinsnr FROM mannschaft ORDER BY Mann_id");
        return {
            {"/start.php", "x={0}", {"1"}, {"2"}},
            {"/vstbl.php", "NR={0}", {"1"}, {"2"}},
            {"/vst.php", "NR={0}", {club}, {"987654"}},
            {"/est.php", "ST={0}", {shooter}, {"987654"}},
            {"/ofls.php", "B={0}", {"A"}, {"qqq"}},
            {"/sb.php", "bz={0}&ST={1}&sid={2}", {competition, shooter, target}, {"987654", "987654", "987654"}},
            {"/erl.php", "titel={0}&startnr={1}", {list, shooter}, {"987654", "987654"}},
            {"/merl.php", "titel={0}&startnr={1}", {team_list, shooter}, {"987654", "987654"}},
            {"/mmerl.php", "vnr={0}&wettbid={1}", {team_club, team_list}, {"987654", "987654"}},
            {"/erlsel.php", "x={0}", {"1"}, {"2"}},
        };
    }

    static inline std::shared_ptr<const db::Snapshot>* snapshot_ = nullptr;
};

TEST_F(HostileRequests, SqlBreakoutsMatchNothingOrAreRefusedInPlainGerman) {
    const std::vector<std::string> hostile = {
        "'",
        "\"",
        "' or '1'='1",
        "1' or '1'='1",
        "\" or \"1\"=\"1",
        "1 or 1=1",
        "%27",
        "1%27%20or%201=1",
        ";drop table starter",
        "1;drop table starter--",
        "1 union select 1",
        std::string("1\0' or 1=1", 10),
        "%00",
        "1%00",
        "\\'",
        "--",
        std::string(5000, '\''),
        std::string(5000, '9'),
        "1" + std::string(5000, 'A'),
    };
    int refused = 0, answered = 0;
    for (const PageCase& page : pages()) {
        // The matching values give a page with rows and no database words.
        const Response good = handle(page.path, fill(page.query, page.matching));
        ASSERT_EQ(good.status_code, 200) << page.path << ": " << good.body();
        for (const auto& word : kDatabaseWords) EXPECT_EQ(good.body().find(word), std::string::npos) << page.path;

        for (size_t slot = 0; slot < page.matching.size(); ++slot) {
            std::vector<std::string> values = page.matching;
            values[slot] = page.missing[slot];
            const Response nothing = handle(page.path, fill(page.query, values));
            ASSERT_EQ(nothing.status_code, 200) << page.path << " slot " << slot;
            for (const std::string& value : hostile) {
                values[slot] = value;
                const std::string query = fill(page.query, values);
                const Response r = handle(page.path, query);
                const std::string what = page.path + "?" + query.substr(0, 80);
                for (const auto& word : kDatabaseWords) {
                    if (lower(value).find(lower(word)) != std::string::npos) continue;  // the echo of the value
                    EXPECT_EQ(r.body().find(word), std::string::npos) << what << "\n" << r.body().substr(0, 400);
                }
                if (r.status_code == 200) {
                    ++answered;
                    // Pages that show the value searched for show it escaped, as far as they
                    // take it (20 characters).
                    std::string echoed(nothing.body());
                    const std::string from = text::escape_html(page.missing[slot], text::Ampersand::Kept);
                    const std::string to = text::escape_html(value.substr(0, 20), text::Ampersand::Kept);
                    for (size_t at = echoed.find(from); at != std::string::npos; at = echoed.find(from, at + to.size())) {
                        echoed.replace(at, from.size(), to);
                    }
                    if (r.body() != nothing.body()) {
                        EXPECT_EQ(r.body(), echoed) << what;
                    }
                } else {
                    ++refused;
                    EXPECT_EQ(r.status_code, 500) << what;
                    EXPECT_EQ(r.body().rfind(kInputError, 0), 0u) << what << "\n" << r.body().substr(0, 400);
                }
            }
        }
    }
    // Both outcomes occur: number parameters refuse, text parameters match nothing.
    EXPECT_GT(refused, 0);
    EXPECT_GT(answered, 0);
}

// The file stays as it was: no statement of a request changed it (a dropped table or rows
// would show on the pages of matching values).
TEST_F(HostileRequests, PagesOfMatchingValuesAreUnchangedAfterTheAttack) {
    std::map<std::string, std::string> before;
    for (const PageCase& page : pages()) before[page.path] = handle(page.path, fill(page.query, page.matching)).body();
    for (const PageCase& page : pages())
        for (const char* value : {"1;drop table starter", "1';delete from raenge;--", "1\";delete from verein;--"})
            handle(page.path, fill(page.query, std::vector<std::string>(page.matching.size(), value)));
    for (const PageCase& page : pages())
        EXPECT_EQ(handle(page.path, fill(page.query, page.matching)).body(), before[page.path]) << page.path;
}

const std::string kMarkup = "<script>'\"";

// The answer for the marked request holds no more raw markup characters than the answer for a
// harmless value of the same place (database text may hold them), and never the marker itself.
void expect_escaped(const Response& marked, const Response& plain, const std::string& what) {
    EXPECT_EQ(marked.body().find("<script>"), std::string::npos) << what << "\n" << marked.body().substr(0, 600);
    EXPECT_EQ(marked.body().find("'\""), std::string::npos) << what;
    for (const char* raw : {"<script", "\"", "'", "<", ">"})
        EXPECT_LE(count(marked.body(), raw), count(plain.body(), raw)) << what << ": " << raw;
}

TEST_F(HostileRequests, MarkupInEveryParameterIsEscaped) {
    for (const PageCase& page : pages()) {
        for (size_t slot = 0; slot < page.matching.size(); ++slot) {
            std::vector<std::string> values = page.matching;
            values[slot] = "scriptxy";
            const Response plain = handle(page.path, fill(page.query, values));
            for (const std::string& value : {kMarkup, page.matching[slot] + kMarkup, kMarkup + page.matching[slot]}) {
                values[slot] = value;
                const std::string query = fill(page.query, values);
                expect_escaped(handle(page.path, query), plain, page.path + "?" + query);
            }
        }
    }
}

TEST_F(HostileRequests, MarkupInThePathIsEscaped) {
    // Pages, frame sets, the page not-found answer and the file not-found answer.
    const std::vector<std::pair<std::string, std::string>> paths = {
        {"/" + kMarkup + "/vstbl.php", ""},
        {"/vstbl.php/" + kMarkup, ""},
        {"/rahmen" + kMarkup + ".php", "B=" + kMarkup},
        {"/rahmenofls.php", "B=" + kMarkup},
        {"/rahmenofls.php" + kMarkup, ""},
        {"/gibtsnicht" + kMarkup + ".php", "x=" + kMarkup},
        {"/" + kMarkup + ".html", ""},
        {"/" + kMarkup, "x=" + kMarkup},
    };
    for (const auto& [path, query] : paths) {
        std::string plain_path = path, plain_query = query;
        for (std::string* s : {&plain_path, &plain_query})
            for (size_t at; (at = s->find(kMarkup)) != std::string::npos;) s->replace(at, kMarkup.size(), "scriptxy");
        const Response plain = handle(plain_path, plain_query);
        const Response marked = handle(path, query);
        EXPECT_EQ(marked.status_code, plain.status_code) << path;
        expect_escaped(marked, plain, path + "?" + query);
    }
    // The same through the request parser, the path percent-encoded and the query raw.
    server::RequestParser parser;
    ASSERT_EQ(parser.feed("GET /rahmen%3Cscript%3E%27%22.php?B=%3Cscript%3E HTTP/1.0\r\n\r\n"),
              server::ParseStatus::complete);
    const Request& request = parser.request();
    EXPECT_NE(request.document_path.find("<script>'\""), std::string::npos) << request.document_path;
    const Response r = handle(request.document_path, request.query);
    EXPECT_EQ(r.status_code, 200);
    EXPECT_NE(r.body().find("&lt;script&gt;&#39;&quot;"), std::string::npos) << r.body();
    expect_escaped(r, handle("/rahmenscriptxy.php", "B=%3Cscript%3E"), "encoded path");
}

}  // namespace
