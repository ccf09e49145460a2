// The live view on the site: a demo uploaded by the upload run answers /a/{id}/api/v1/... as the
// range server's API answers on the same file, an upload reaches the account's event stream,
// and unknown accounts and the view's own files.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <regex>
#include <set>
#include <thread>

#include "api/api.h"
#include "db/snapshot/snapshot_build.h"
#include "live/assets.h"
#include "server/http_server.h"
#include "site/live_site.h"
#include "site/site_handler.h"
#include "site/store.h"
#include "event_client.h"
#include "site_test_util.h"
#include "tools/mkdemo/demo.h"
#include "upload/upload_run.h"

using namespace ringolan;
using namespace std::chrono_literals;
using site_test::Client;
using site_test::states;
using Json = nlohmann::json;

namespace {

struct Reply {
    int status = 0;
    std::string head, body;
};

Reply get(uint16_t port, const std::string& path) {
    Client client(port, path);
    const std::string& all = client.read_until([](const std::string&) { return false; });
    Reply r;
    const auto end = all.find("\r\n\r\n");
    if (all.size() < 12 || end == std::string::npos) return r;
    r.status = std::stoi(all.substr(9, 3));
    r.head = all.substr(0, end);
    r.body = all.substr(end + 4);
    return r;
}

// The keys whose numbers come from Double columns: the upload writes those with one decimal
// (five significant digits) and NULL as 0.0.
bool from_real_column(const std::string& key) { return key == "result" || key == "parts"; }

// Differences of the site's answer from the range's, by JSON path. The state number and the
// time of reading differ by nature; reals may differ as the upload wrote them.
void compare(const Json& range, const Json& site, const std::string& path, bool real, std::vector<std::string>& out) {
    if (real && range.is_number() && site.is_number()) {
        const double a = range.get<double>(), b = site.get<double>();
        if (std::fabs(a - b) > std::max(0.05, std::fabs(a) * 1e-4) + 1e-9) out.push_back(path);
    } else if (real && range.is_null() && site.is_number()) {
        if (site.get<double>() != 0) out.push_back(path);
    } else if (range.is_object() && site.is_object()) {
        for (const auto& [key, value] : range.items()) {
            if (path.empty() && (key == "state" || key == "read")) continue;
            if (!site.contains(key)) out.push_back(path + "." + key + " missing");
            else compare(value, site[key], path + "." + key, real || from_real_column(key), out);
        }
        if (site.size() != range.size()) out.push_back(path + " has other keys");
    } else if (range.is_array() && site.is_array() && range.size() == site.size()) {
        for (std::size_t i = 0; i < range.size(); ++i)
            compare(range[i], site[i], path + "[" + std::to_string(i) + "]", real, out);
    } else if (range != site) {
        out.push_back(path);
    }
}

class SiteLive : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new site_test::TempDir;
        mdb_ = dir_->path() / "demo.mdb";
        demo::DemoOptions options;
        options.shooters = 60;
        demo::write_demo(options, mdb_);
        db::SnapshotInfo info;
        info.source = mdb_;
        info.generation = 1;
        range_ = new std::shared_ptr<const db::Snapshot>(db::Snapshot::from_image(db::build_snapshot_image(mdb_), info));

        const std::string hash = site::hash_password("pw", 1000);
        accounts_ = new site::Accounts(site::Accounts::parse(R"({"accounts":[{"id":"demo","password":")" + hash +
                                                             R"("},{"id":"empty","password":")" + hash + "\"}]}"));
        store_ = site::open_store("", dir_->path() / "site").release();
        handler_ = new site::SiteHandler(*accounts_, *store_);
        live_ = new site::LiveSite(*accounts_, *store_);
        store_->on_change([](const std::string& account) { live_->changed(account); });
        handler_->set_live_routes([](const server::Request& q, server::Response& r) { return live_->answer(q, r); });
        server::ServerOptions server_options;
        server_options.max_body_bytes = 64 << 20;
        http_ = new server::HttpServer([](const server::Request& q, server::Response& r) { (*handler_)(q, r); }, {},
                                       server_options);
        http_->set_quick_handler([](const server::Request& q, server::Response& r) { return live_->answer_quick(q, r); });
        http_->start({server::Binding{"127.0.0.1", 0}});
        port_ = http_->endpoints().front().port;
        upload();
    }
    static void TearDownTestSuite() {
        delete http_;
        delete live_;
        delete handler_;
        delete store_;
        delete accounts_;
        delete range_;
        delete dir_;
    }

    // One run of the upload of the demo file to the account "demo".
    static void upload() {
        upload::HttpClient client;
        upload::UploadRun run(client, {}, upload::itdatum_not_built);
        upload::UploadRequest r;
        r.base = "http://127.0.0.1:" + std::to_string(port_) + "/";
        r.account_id = "demo";
        r.password = "pw";
        r.work_dir = dir_->path();
        r.database = mdb_;
        run.run(r, **range_);
    }

    static inline site_test::TempDir* dir_ = nullptr;
    static inline std::filesystem::path mdb_;
    static inline std::shared_ptr<const db::Snapshot>* range_ = nullptr;
    static inline site::Accounts* accounts_ = nullptr;
    static inline site::SiteStore* store_ = nullptr;
    static inline site::SiteHandler* handler_ = nullptr;
    static inline site::LiveSite* live_ = nullptr;
    static inline server::HttpServer* http_ = nullptr;
    static inline uint16_t port_ = 0;
};

// The resources of the range's answers: every list, club and shooter, and searches.
std::vector<std::string> resources(const db::Snapshot& range) {
    std::vector<std::string> out = {"/state", "/lists", "/clubs", "/search?q=e", "/search?q=sv", "/search?q=12",
                                    "/search?q=%C3%BC", "/lists/9999", "/shooters/0", "/nothing"};
    const Json lists = Json::parse(api::answer(range, "/lists", "").json)["lists"];
    for (const Json& list : lists) out.push_back("/lists/" + std::to_string(list["id"].get<int>()));
    const Json clubs = Json::parse(api::answer(range, "/clubs", "").json)["clubs"];
    for (const Json& club : clubs) out.push_back("/clubs/" + club["nr"].get<std::string>());
    const Json shooters = Json::parse(api::answer(range, "/search", "q=e").json)["shooters"];
    for (const Json& shooter : shooters) out.push_back("/shooters/" + std::to_string(shooter["startnr"].get<int>()));
    return out;
}

// What the upload does not carry, left out of a shooter's answers on both sides: the ranks in
// lists it leaves out (those the range does not offer either) and targets of more than ten shots
// (it sends shots 1 to 10). Returns how many were left out.
std::size_t remove_where(Json& array, const std::function<bool(const Json&)>& unsent) {
    Json kept = Json::array();
    for (Json& item : array)
        if (!unsent(item)) kept.push_back(std::move(item));
    const std::size_t removed = array.size() - kept.size();
    array = std::move(kept);
    return removed;
}

std::size_t leave_out_unsent(Json& range, Json& site, const std::set<int>& offered) {
    std::size_t left_out = 0;
    if (range.contains("ranks"))
        left_out += remove_where(range["ranks"], [&](const Json& r) { return !offered.contains(r["list"].get<int>()); });
    if (!range.contains("targets")) return left_out;
    std::set<int> long_targets;
    for (const Json& t : range["targets"])
        for (const Json& shot : t["shots"])
            if (shot["n"].get<int>() > 10) long_targets.insert(t["id"].get<int>());
    for (Json* side : {&range, &site})
        left_out += remove_where((*side)["targets"], [&](const Json& t) { return long_targets.contains(t["id"].get<int>()); });
    return left_out;
}

TEST_F(SiteLive, TheApiAnswersAsTheRangeServersOnTheUploadedFile) {
    const std::vector<std::string> all = resources(**range_);
    ASSERT_GT(all.size(), 40u);
    const Json lists = Json::parse(api::answer(**range_, "/lists", "").json);
    std::set<int> offered;
    for (const Json& list : lists["lists"]) offered.insert(list["id"].get<int>());
    std::size_t whole = 0;
    for (const std::string& resource : all) {
        SCOPED_TRACE(resource);
        const auto q = resource.find('?');
        const std::string path = resource.substr(0, q), query = q == std::string::npos ? "" : resource.substr(q + 1);
        const api::Answer expected = api::answer(**range_, path, query);
        const Reply reply = get(port_, "/a/demo/api/v1" + resource);
        ASSERT_EQ(reply.status, expected.status);
        Json range = Json::parse(expected.json), site = Json::parse(reply.body);
        if (leave_out_unsent(range, site, offered) == 0) ++whole;
        std::vector<std::string> differences;
        compare(range, site, "", false, differences);
        EXPECT_TRUE(differences.empty()) << ::testing::PrintToString(differences);
    }
    EXPECT_GT(whole * 3, all.size());  // leaving out does not hollow the comparison
}

TEST_F(SiteLive, AnUploadReachesTheAccountsEventStream) {
    Client events(port_, "/a/demo/api/v1/events");
    // The state served when the stream opens, then new ones as the upload's tables arrive.
    const auto first = states(events.read_until([](const std::string& s) { return !states(s).empty(); }));
    ASSERT_EQ(first.size(), 1u);
    EXPECT_EQ(live_->event_clients("demo"), 1u);
    upload();
    const auto last = std::uint64_t(store_->version("demo"));
    const auto after = states(events.read_until([&](const std::string& s) {
        const auto seen = states(s);
        return !seen.empty() && seen.back() == last;
    }));
    ASSERT_GT(last, first.front());
    // The states while the tables arrived were not served: the upload is one change.
    EXPECT_EQ(after, (std::vector<std::uint64_t>{first.front(), last}));
    // The API answers from the newest state.
    const Reply state = get(port_, "/a/demo/api/v1/state");
    EXPECT_EQ(Json::parse(state.body)["state"].get<std::uint64_t>(), after.back());
}

TEST_F(SiteLive, AddressesOfTheAccountsAndTheView) {
    struct Case {
        std::string path;
        int status;
        std::string content_type;
        std::string body_has;
    } cases[] = {
        {"/a/nobody/api/v1/state", 404, "application/json", "{\"error\":\"Kein Konto mit diesem Namen.\"}"},
        {"/a/nobody/api/v1/events", 404, "application/json", "\"error\""},
        {"/a/nobody/live/", 404, "text/html", "<h1>Nicht gefunden</h1>"},
        {"/a/empty/api/v1/state", 503, "application/json", api::no_competition().json},
        {"/a/demo/live/", 200, "text/html", "<script type=\"module\" src=\"/a/demo/live/app.js\"></script>"},
        {"/a/demo/live/", 200, "text/html", "<a href=\"/a/demo/\">"},
        {"/a/demo/live/screen", 200, "text/html", "<img src=\"/a/demo/live/qr.svg\""},
        {"/a/demo/live/api.js", 200, "text/javascript", *live::find_asset("api.js")->bytes},
        {"/a/demo/live/qr.svg", 200, "image/svg+xml", "<svg"},
        {"/a/demo/live/nothing.js", 404, "text/plain", "Nicht gefunden."},
        {"/a/demo/", 302, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const Reply reply = get(port_, c.path);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_NE(reply.head.find("Content-Type: " + c.content_type), std::string::npos) << reply.head;
        EXPECT_NE(reply.body.find(c.body_has), std::string::npos) << reply.body.substr(0, 300);
        EXPECT_EQ(reply.body.find("\"/live/"), std::string::npos);  // no address outside the account
    }
    EXPECT_NE((get(port_, "/a/demo").head + "\r\n").find("Location: /ergebnisse/?id=demo\r\n"), std::string::npos);
}

// An upload that breaks off after the delete is served once the grace time has passed.
TEST_F(SiteLive, AnUploadThatBrokeOffIsServedAfterTheGraceTime) {
    site::LiveSite live(*accounts_, *store_, {.settle = 0ms, .upload_grace = 500ms});
    auto ask = [&](const std::string& path) {
        server::Request request;
        request.command = "GET";
        request.document_path = "/a/demo/api/v1" + path;
        server::Response response;
        EXPECT_TRUE(live.answer(request, response));
        return Json::parse(response.body());
    };
    const Json before = ask("/lists");
    ASSERT_FALSE(before["lists"].empty());
    store_->delete_all("demo");
    live.changed("demo");
    std::this_thread::sleep_for(200ms);
    EXPECT_EQ(ask("/lists"), before);  // held: an upload may be under way
    std::this_thread::sleep_for(800ms);
    EXPECT_TRUE(ask("/lists")["lists"].empty());
    EXPECT_GT(ask("/state")["state"].get<std::uint64_t>(), before["state"].get<std::uint64_t>());
    upload();
}

}  // namespace
