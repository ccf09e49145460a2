// The crawler's own parts: link extraction, address resolution, request targets, answers, and
// the walk over a fake site.
#include <gtest/gtest.h>

#include <map>

#include "tests/site_crawl/crawl.h"

namespace ringolan::crawl {
namespace {

std::vector<std::string> targets(const std::vector<Link>& links, LinkKind kind) {
    std::vector<std::string> out;
    for (const auto& l : links)
        if (l.kind == kind) out.push_back(l.target);
    return out;
}

TEST(ExtractLinks, AllQuotingFormsOfThePages) {
    // Forms the pages write: double quotes, single quotes, blanks around "=", upper-case tags,
    // other attributes before and after, a picture inside a link.
    const std::string html =
        "<tr><td><a href=\"est.php?ST=3\">A</a></td>"
        "<a href='mmerl.php?vnr=7'>M</a>"
        "<td><a href = \"vst.php?NR=1\" > X </a>"
        "<FRAME SRC=\"navi.html\" NAME=\"Verweisfenster\" scrolling=\"no\">\r"
        "<a target=_top href=start.php>S</a>"
        "<a href=\"sb.php?ST=1&sb=LG1&bz=2&sid=9\"> <img border=\"0\" src=\"scheibe2.png\" alt=\"Schussbild\"></a>"
        "<span style=\"position: absolute; left: 3\"><img border=\"0\" src=\"Kreuz.gif\" width=\"13\"></span>";
    const auto links = extract_links(html);
    EXPECT_EQ(targets(links, LinkKind::Anchor),
              (std::vector<std::string>{"est.php?ST=3", "mmerl.php?vnr=7", "vst.php?NR=1", "start.php",
                                        "sb.php?ST=1&sb=LG1&bz=2&sid=9"}));
    EXPECT_EQ(targets(links, LinkKind::Picture), (std::vector<std::string>{"scheibe2.png", "Kreuz.gif"}));
    EXPECT_EQ(targets(links, LinkKind::Frame), (std::vector<std::string>{"navi.html"}));
}

TEST(ExtractLinks, IgnoresLookalikes) {
    // Attribute names that merely end in "href"/"src", tags that start with "a", quoted ">",
    // comments, and a tag without the wanted attribute.
    const std::string html =
        "<abbr href=\"no1\">x</abbr><area href=\"no2\"><a data-href=\"no3\" name=\"m\">"
        "<img alt=\"a > b\" src=\"yes.gif\"><!-- <a href=\"no4\"> --><a name=\"Marke\"></a>"
        "<script>if (a<b) {}</script><a href=\"\xC4.php?B=\xD6\">";
    const auto links = extract_links(html);
    ASSERT_EQ(links.size(), 2u);
    EXPECT_EQ(links[0].target, "yes.gif");
    EXPECT_EQ(links[0].kind, LinkKind::Picture);
    EXPECT_EQ(links[1].target, "\xC4.php?B=\xD6");  // 8-bit bytes kept
}

TEST(Resolve, RelativeAbsoluteAndLeaving) {
    EXPECT_EQ(resolve("/rahmenofls.php?B=A", "nofls.php?B=A"), "/nofls.php?B=A");
    EXPECT_EQ(resolve("/est.php?ST=3", "erl.php.php?startnr=3&titel=2&Rang=1"), "/erl.php.php?startnr=3&titel=2&Rang=1");
    EXPECT_EQ(resolve("/a/b/c.php?x=/y/z", "d.php"), "/a/b/d.php");  // a "/" in the query is no folder
    EXPECT_EQ(resolve("/a/b/c.php", "../d.gif"), "/a/d.gif");
    EXPECT_EQ(resolve("/a/b/c.php", "./../../../d.gif"), "/d.gif");
    EXPECT_EQ(resolve("/a/b/c.php", "/x.php?q=1"), "/x.php?q=1");
    EXPECT_EQ(resolve("/a/b/", "."), "/a/b/");
    EXPECT_EQ(resolve("/vst.php?NR=1", "?NR=2"), "/vst.php?NR=2");
    EXPECT_EQ(resolve("/mmerl.php?vnr=3", "vst.php?NR=$vnr#top"), "/vst.php?NR=$vnr");
    EXPECT_EQ(resolve("/x.php", "rahmenvstbl.php?"), "/rahmenvstbl.php?");  // an empty query is kept
    EXPECT_EQ(resolve("/", "http://example.invalid/x"), "");
    EXPECT_EQ(resolve("/", "mailto:a@b"), "");
    EXPECT_EQ(resolve("/", "//host/x"), "");
    EXPECT_EQ(resolve("/", "#Marke"), "");
    EXPECT_EQ(resolve("/a.php", "b:c/d.php"), "");  // a scheme, however odd
    EXPECT_EQ(resolve("/a.php", "b/c:d.php"), "/b/c:d.php");  // a colon after a slash is no scheme
}

TEST(Targets, EncodingAndDecoding) {
    EXPECT_EQ(request_target("/ofls.php?B=\xC4 x"), "/ofls.php?B=\xC4%20x");
    EXPECT_EQ(browser_target("/ofls.php?B=\xC4 x"), "/ofls.php?B=%C4%20x");
    EXPECT_EQ(browser_target("/a.php?B=%C4"), "/a.php?B=%C4");  // an escape already there stays
    EXPECT_EQ(document_path("/Web%20Seite/a.htm?x=%41"), "/Web Seite/a.htm");
    EXPECT_EQ(document_path("/a%4"), "/a%4");  // an incomplete escape stays as it is
    EXPECT_EQ(document_path("/%zz"), "/%zz");
}

TEST(ParseResponse, StatusHeadersAndBody) {
    const Response r = parse_response(
        "HTTP/1.1 404 Not Found\r\nConnection: close\r\ncontent-type:text/html\r\nContent-Length: 5\r\n\r\nab\r\n\r\n");
    EXPECT_EQ(r.status, 404);
    EXPECT_EQ(r.content_type, "text/html");
    EXPECT_EQ(r.content_length, 5);
    EXPECT_EQ(r.body, "ab\r\n\r\n");  // the body may hold a blank line itself
    EXPECT_EQ(parse_response("").status, 0);
    EXPECT_EQ(parse_response("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n").status, 0);  // headers cut short
}

// A fake site: each address answers with a body and a type.
struct FakeSite {
    std::map<std::string, std::pair<std::string, std::string>> pages;
    std::vector<std::string> fetched;
    Response operator()(const std::string& address) {
        fetched.push_back(address);
        Response r;
        const auto p = pages.find(address);
        if (p == pages.end()) {
            r.status = 404;
            return r;
        }
        r.status = 200;
        r.content_type = p->second.second;
        r.body = p->second.first;
        return r;
    }
};

TEST(Crawl, EachAddressOnceBreadthFirstWithinBounds) {
    FakeSite site;
    site.pages["/"] = {"<a href=\"a.php\"><a href=\"b.php\"><a href=\"http://x.invalid/\">", "text/html"};
    site.pages["/a.php"] = {"<a href=\"/b.php\"><img src=\"p.gif\"><a href=\"c.php\">", "text/html"};
    site.pages["/b.php"] = {"<a href=\"a.php\"><a href=\"c.php\">", "text/html"};
    site.pages["/c.php"] = {"<a href=\"d.php\">", "text/html"};
    // A picture's bytes are never read for links, even when they look like a link.
    site.pages["/p.gif"] = {"<a href=\"hidden.php\">", "image/gif"};
    auto fetch = [&](const std::string& a) { return site(a); };

    const CrawlResult all = crawl({"/", "/"}, fetch);
    std::vector<std::string> order;
    for (const auto& v : all.visits) order.push_back(v.address);
    EXPECT_EQ(order, (std::vector<std::string>{"/", "/a.php", "/b.php", "/p.gif", "/c.php", "/d.php"}));
    EXPECT_EQ(site.fetched, order);  // nothing fetched twice
    EXPECT_EQ(all.visits[3].referrer, "/a.php");
    EXPECT_EQ(all.visits[3].kind, LinkKind::Picture);
    EXPECT_EQ(all.visits[5].response.status, 404);
    EXPECT_EQ(all.pictures.at("/p.gif"), "/a.php");
    EXPECT_EQ(all.external, (std::vector<std::string>{"http://x.invalid/"}));
    EXPECT_FALSE(all.bounded);

    CrawlOptions bounded;
    bounded.max_addresses = 3;
    const CrawlResult three = crawl({"/"}, fetch, bounded);
    EXPECT_EQ(three.visits.size(), 3u);
    EXPECT_TRUE(three.bounded);

    CrawlOptions sample;
    sample.follow = [](const std::string& a) { return a != "/c.php"; };
    const CrawlResult sampled = crawl({"/"}, fetch, sample);
    EXPECT_EQ(sampled.visits.size(), 4u);  // neither c.php nor d.php, reached only through it
    EXPECT_EQ(sampled.skipped.at("/c.php"), 2u);
}

}  // namespace
}  // namespace ringolan::crawl
