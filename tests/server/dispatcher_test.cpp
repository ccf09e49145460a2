// The dispatcher over a table of recording fake generators: path tests, framing, the frameset
// page and the fixed texts, compared against literal pages.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "server/dispatcher.h"
#include "server/page_routes.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::pages::PageContext;
using ringolan::server::DispatchPage;
using ringolan::server::FramesetPage;
using ringolan::server::PageResult;
using ringolan::server::PageRoute;

struct Call {
    std::string page;
    std::string query;
    bool operator==(const Call&) const = default;
};

// All ten pages with fakes that record their calls and return "<name fragment>".
class Dispatch : public ::testing::Test {
protected:
    std::vector<Call> calls;
    PageContext ctx;

    ringolan::server::PageGenerator fake(std::string name, bool takes_query = true) {
        return [this, name, takes_query](PageContext& c, std::string_view query) {
            EXPECT_EQ(&c, &ctx);
            calls.push_back({name, takes_query ? std::string(query) : std::string()});
            return "<" + name + " fragment>";
        };
    }

    std::vector<PageRoute> all_pages() {
        return {
            {"start.php", fake("start", false), false},
            {"vstbl.php", fake("vstbl", false), true},
            {"vst.php", fake("vst"), true},
            {"est.php", fake("est"), true},
            {"ofls.php", fake("ofls"), true},
            {"sb.php", fake("sb"), true},
            {"/erl.php", fake("erl"), true},
            {"/merl.php", fake("merl"), true},
            {"mmerl.php", fake("mmerl"), true},
            {"erlsel.php", fake("erlsel", false), true},
        };
    }

    PageResult dispatch(std::string_view path, std::string_view query = "") {
        const auto routes = all_pages();
        return DispatchPage(routes, ctx, path, query);
    }

    static std::string framed(const std::string& name) { return kHead + "<" + name + " fragment>" + kFoot; }
};

TEST(PageFrame, FixedTextsAreByteExact) {
    EXPECT_EQ(std::string(ringolan::server::kPageHead), kHead);
    EXPECT_EQ(std::string(ringolan::server::kPageFoot), kFoot);
    EXPECT_EQ(std::string(ringolan::server::kNotFoundPage), kNotFound);
    // Fourteen lines, each ended by a lone carriage return.
    size_t cr = 0;
    for (char c : ringolan::server::kPageHead) cr += c == '\r';
    EXPECT_EQ(cr, 14u);
    EXPECT_EQ(ringolan::server::kPageHead.find('\n'), std::string_view::npos);
    EXPECT_EQ(ringolan::server::kPageHead.back(), '\r');
}

TEST_F(Dispatch, UpperCasePathIsDispatchedWithTheQueryUnchanged) {
    const PageResult r = dispatch("/VST.PHP", "NR=1");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, framed("vst"));
    EXPECT_EQ(calls, (std::vector<Call>{{"vst", "NR=1"}}));
}

TEST_F(Dispatch, EachPageNameRunsOnlyItsOwnGenerator) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"/vstbl.php", "vstbl"}, {"/vst.php", "vst"},   {"/est.php", "est"},     {"/ofls.php", "ofls"},
        {"/sb.php", "sb"},       {"/erl.php", "erl"},   {"/merl.php", "merl"},   {"/mmerl.php", "mmerl"},
        {"/erlsel.php", "erlsel"},
    };
    for (const auto& [path, page] : cases) {
        calls.clear();
        const PageResult r = dispatch(path, "Q=x");
        EXPECT_EQ(r.status, 200) << path;
        EXPECT_EQ(r.body, framed(page)) << path;
        ASSERT_EQ(calls.size(), 1u) << path;
        EXPECT_EQ(calls[0].page, page) << path;
    }
}

TEST_F(Dispatch, GeneratorsWithoutArgumentDoNotSeeTheQuery) {
    dispatch("/vstbl.php", "NR=5");
    dispatch("/erlsel.php", "NR=5");
    dispatch("/est.php", "ST=1017&x=%41");
    EXPECT_EQ(calls, (std::vector<Call>{{"vstbl", ""}, {"erlsel", ""}, {"est", "ST=1017&x=%41"}}));
}

TEST_F(Dispatch, NameFoundAnywhereInThePath) {
    PageResult r = dispatch("/test.php", "ST=5");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, framed("est"));
    EXPECT_EQ(calls, (std::vector<Call>{{"est", "ST=5"}}));

    calls.clear();
    r = dispatch("/nofls.php", "B=A");
    EXPECT_EQ(r.body, framed("ofls"));
    EXPECT_EQ(calls, (std::vector<Call>{{"ofls", "B=A"}}));
}

TEST_F(Dispatch, TwoPageNamesRunBothAndTheLaterWins) {
    const PageResult r = dispatch("/vst.php/est.php", "NR=3");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, framed("est"));
    EXPECT_EQ(calls, (std::vector<Call>{{"vst", "NR=3"}, {"est", "NR=3"}}));

    // Test order decides, not the order in the path.
    calls.clear();
    EXPECT_EQ(dispatch("/est.php/vst.php").body, framed("est"));
    EXPECT_EQ(calls.size(), 2u);

    // An unframed page replaced by a later framed one is framed.
    calls.clear();
    EXPECT_EQ(dispatch("/start.php/sb.php").body, framed("sb"));
}

TEST_F(Dispatch, UnknownPageIsNotFound) {
    for (const char* path : {"/foo.php", "/", "", "/nerl.php", "/VS.PHP", "/ERL.PH"}) {
        const PageResult r = dispatch(path, "B=A");
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_EQ(r.body, kNotFound) << path;
    }
    EXPECT_TRUE(calls.empty());
}

TEST_F(Dispatch, StartPageIsNotFramed) {
    const PageResult r = dispatch("/start.php", "x=1");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<start fragment>");
    EXPECT_EQ(calls, (std::vector<Call>{{"start", ""}}));
}

TEST_F(Dispatch, EmptyFragmentGivesHeadAndFoot) {
    const std::vector<PageRoute> routes = {{"vstbl.php", [](PageContext&, std::string_view) { return std::string(); }, true}};
    const PageResult r = DispatchPage(routes, ctx, "/vstbl.php", "");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, kHead + kFoot);
}

TEST_F(Dispatch, MissingGeneratorsAnswerNotFound) {
    const std::vector<PageRoute> routes = {{"vstbl.php", fake("vstbl", false), true}};
    for (const char* path : {"/vst.php", "/start.php", "/erlsel.php"}) {
        const PageResult r = DispatchPage(routes, ctx, path, "NR=1");
        EXPECT_EQ(r.status, 404) << path;
        EXPECT_EQ(r.body, kNotFound) << path;
    }
    EXPECT_TRUE(calls.empty());
    EXPECT_EQ(DispatchPage(routes, ctx, "/vstbl.php", "").body, framed("vstbl"));
}

TEST_F(Dispatch, FailingGeneratorPropagatesAndDropsEarlierResults) {
    std::vector<PageRoute> routes = all_pages();
    routes[3].generate = [this](PageContext&, std::string_view) -> std::string {
        calls.push_back({"est", "failed"});
        throw std::runtime_error("Tabelle fehlt");
    };
    try {
        DispatchPage(routes, ctx, "/vst.php/est.php", "NR=1");
        FAIL() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "Tabelle fehlt");
    }
    // The club page ran first; every later test after the failure is not made.
    EXPECT_EQ(calls, (std::vector<Call>{{"vst", "NR=1"}, {"est", "failed"}}));
}

TEST_F(Dispatch, RahmenGivesTheFramesetAndRunsNoGenerator) {
    PageResult r = dispatch("/rahmenofls.php", "B=A");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, frameset("nofls.php?B=A"));

    r = dispatch("/RAHMENOFLS.PHP", "B=A");
    EXPECT_EQ(r.body, frameset("nofls.php?B=A"));

    r = dispatch("/rahmenstart.php", "");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, frameset("nstart.php?"));

    r = dispatch("/rahmenvstbl.php", "");
    EXPECT_EQ(r.body, frameset("nvstbl.php?"));

    // "rahmen" wins over every page name and needs no ".php".
    r = dispatch("/vst.php/RahmeN", "NR=1");
    EXPECT_EQ(r.body, frameset("hp/rahmen?NR=1"));
    EXPECT_TRUE(calls.empty());
}

TEST_F(Dispatch, FrameSourceIsLaterServedAsItsOwnPath) {
    const PageResult r = dispatch("/rahmenerl.php", "x=1");
    EXPECT_EQ(r.body, frameset("nerl.php?x=1"));
    const PageResult frame = dispatch("/nerl.php", "x=1");
    EXPECT_EQ(frame.status, 404);
    EXPECT_EQ(frame.body, kNotFound);

    EXPECT_EQ(dispatch("/nerlsel.php").body, framed("erlsel"));
    EXPECT_TRUE(calls.size() == 1 && calls[0].page == "erlsel");
}

TEST_F(Dispatch, FrameSourceKeepsCharactersSevenTo261) {
    // Path "/rahmenvst.php" (14) + "?" + 300-character query = 315 characters.
    std::string query;
    for (int i = 0; i < 300; ++i) query += char('a' + i % 26);
    const PageResult r = dispatch("/rahmenvst.php", query);
    const std::string source = "nvst.php?" + query.substr(0, 255 - 9);
    ASSERT_EQ(source.size(), 255u);
    EXPECT_EQ(r.body, frameset(source));

    // Exactly 261 characters keep everything after the sixth.
    const std::string q252(261 - 15, 'q');
    EXPECT_EQ(dispatch("/rahmenvst.php", q252).body, frameset("nvst.php?" + q252));

    // Requested directly, the page sees the whole query text.
    dispatch("/vst.php", query);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].query, query);
}

TEST_F(Dispatch, OnlyAsciiCapitalsAreLowered) {
    // 0xC4 (A umlaut) and 0xD6 stay; 'A'..'Z' change, '@' and '[' around them do not.
    const PageResult r = dispatch("/RAHMEN\xC4@[Z\xD6.PHP", "K=\xC4Q");
    EXPECT_EQ(r.body, frameset("n\xC4@[z\xD6.php?K=\xC4Q"));
    EXPECT_EQ(ringolan::server::ascii_lower("AZaz@[`{\xC4\xE4\xDE"), "azaz@[`{\xC4\xE4\xDE");
}

TEST_F(Dispatch, FrameSourceFromTheRequestIsEscapedButAmpersandStays) {
    const PageResult r = dispatch("/rahmen\"<b>'.php", "a=1&b=\"x\"&c=<i>'");
    EXPECT_EQ(r.body, frameset("n&quot;&lt;b&gt;&#39;.php?a=1&b=&quot;x&quot;&c=&lt;i&gt;&#39;"));

    // An escape never counts against the 255 characters and is never cut.
    const std::string query(300, '<');
    const std::string source = "nvst.php?" + std::string(255 - 9, '<');
    std::string escaped = "nvst.php?";
    for (size_t i = 9; i < source.size(); ++i) escaped += "&lt;";
    EXPECT_EQ(dispatch("/rahmenvst.php", query).body, frameset(escaped));
}

TEST(FramesetPage, BuildsFromTheSeventhCharacter) {
    EXPECT_EQ(FramesetPage("/rahmenofls.php?B=A"), frameset("nofls.php?B=A"));
    EXPECT_EQ(FramesetPage("rahmen?"), frameset("?"));
    EXPECT_EQ(FramesetPage("/rahme"), frameset(""));
}

}  // namespace
