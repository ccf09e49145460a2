#include "site/live_site.h"

#include <algorithm>
#include <chrono>

#include "common/log.h"
#include "server/live_routes.h"
#include "site/live_snapshot.h"

namespace ringolan::site {

namespace {

using server::Request;
using server::Response;

constexpr std::string_view kJson = "application/json; charset=utf-8";
constexpr std::string_view kUnknownAccountJson = "{\"error\":\"Kein Konto mit diesem Namen.\"}";
constexpr std::string_view kUnknownAccountPage =
    "<!doctype html>\n<html lang=\"de\"><head><meta charset=\"utf-8\"><title>Nicht gefunden</title></head>\n"
    "<body><h1>Nicht gefunden</h1><p>Unter dieser Adresse gibt es keine Live-Ergebnisse.</p></body></html>\n";
// API answers kept per account (the range server keeps more for its one competition).
constexpr std::size_t kCacheBytes = 16 * 1024 * 1024;
constexpr std::size_t kCacheEntries = 5000;
// The table the classic upload sends last.
constexpr std::string_view kLastUploadTable = "veranstaltung";

void not_found(Response& response, bool api) {
    response.set_status(404);
    response.content_type = api ? kJson : "text/html; charset=utf-8";
    response.content = api ? kUnknownAccountJson : kUnknownAccountPage;
}

// An API answer as the range server sends it: with its validator, 304 when the client holds it.
void send_page(const server::PageCache::SharedPage& page, const Request& request, Response& response) {
    response.content_type = page->content_type;
    response.extra_headers = "Cache-Control: no-cache\r\nETag: " + page->etag + "\r\n";
    if (server::etag_matches(request, page->etag)) return response.set_status(304);
    response.set_status(page->status);
    response.shared_content = std::shared_ptr<const std::string>(page, &page->body);
    response.body_file = page->file;
}

}  // namespace

struct LiveSite::Live {
    explicit Live(std::string id) : account(std::move(id)) {
        server::ServedSnapshot::Options options;
        // Clients hear of a state once its most requested answers are made, as on the range.
        options.on_served = [hub = hub](const std::shared_ptr<const db::Snapshot>& snapshot) {
            if (snapshot) hub->publish({snapshot->info().generation, server::state_tag(snapshot.get())});
        };
        served = std::make_unique<server::ServedSnapshot>([this] { return latest(); }, cache, std::move(options));
    }
    const std::string account;
    std::mutex mutex;  // guards built and loaded
    std::shared_ptr<const db::Snapshot> built;
    bool loaded = false;
    std::mutex build;  // one build at a time; guards whole and partial_since
    bool whole = false;  // the built state holds the upload's last table
    std::optional<Clock::time_point> partial_since;  // an upload under way was first seen then
    const std::shared_ptr<server::EventHub> hub = std::make_shared<server::EventHub>();
    const std::shared_ptr<server::PageCache> cache = std::make_shared<server::PageCache>(kCacheBytes, kCacheEntries);
    std::unique_ptr<server::ServedSnapshot> served;  // last: it reads built until it stops

    std::shared_ptr<const db::Snapshot> latest() {
        std::lock_guard lock(mutex);
        return built;
    }
    bool is_loaded() {
        std::lock_guard lock(mutex);
        return loaded;
    }
};

// "/a/{id}" + rest.
struct LiveSite::Route {
    std::string account;
    std::string_view mount;
    std::string_view rest;

    static std::optional<Route> parse(std::string_view path) {
        if (!path.starts_with(kAccountPrefix)) return std::nullopt;
        const std::size_t end = std::min(path.find('/', kAccountPrefix.size()), path.size());
        Route r;
        r.account = std::string(path.substr(kAccountPrefix.size(), end - kAccountPrefix.size()));
        r.mount = path.substr(0, end);
        r.rest = path.substr(end);
        return r;
    }
};

LiveSite::LiveSite(const Accounts& accounts, SiteStore& store, Timing timing)
    : accounts_(accounts), store_(store), settle_(timing.settle), upload_grace_(timing.upload_grace) {
    builder_ = std::thread([this] { run_builds(); });
}

LiveSite::~LiveSite() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    builder_.join();
}

std::shared_ptr<LiveSite::Live> LiveSite::live_of(const std::string& account) {
    if (!accounts_.find(account)) return nullptr;
    std::lock_guard lock(mutex_);
    auto& live = lives_[account];
    if (!live) live = std::make_shared<Live>(account);
    return live;
}

void LiveSite::changed(const std::string& account) {
    {
        std::lock_guard lock(mutex_);
        if (!lives_.contains(account) || std::find(pending_.begin(), pending_.end(), account) != pending_.end()) return;
        pending_.push_back(account);
    }
    wake_.notify_all();
}

std::size_t LiveSite::event_clients(const std::string& account) {
    const auto live = live_of(account);
    return live ? live->hub->clients() : 0;
}

void LiveSite::run_builds() {
    std::unique_lock lock(mutex_);
    for (;;) {
        const auto due = [&] { return !retries_.empty() && retries_.begin()->first <= Clock::now(); };
        if (retries_.empty())
            wake_.wait(lock, [&] { return stop_ || !pending_.empty(); });
        else
            wake_.wait_until(lock, retries_.begin()->first, [&] { return stop_ || !pending_.empty() || due(); });
        if (stop_) return;
        while (due()) {
            if (std::find(pending_.begin(), pending_.end(), retries_.begin()->second) == pending_.end())
                pending_.push_back(retries_.begin()->second);
            retries_.erase(retries_.begin());
        }
        if (pending_.empty()) continue;
        // Changes that come in a burst (the tables of one upload) make one build.
        wake_.wait_for(lock, settle_, [&] { return stop_; });
        if (stop_) return;
        const std::shared_ptr<Live> live = lives_.at(pending_.front());
        pending_.pop_front();
        lock.unlock();
        std::optional<Clock::time_point> again;
        try {
            again = rebuild(*live);
        } catch (const std::exception& e) {
            // The old snapshot stays served; the next change tries again.
            logging::log_line("live view of " + live->account + ": " + e.what());
        }
        lock.lock();
        if (again) retries_.emplace(*again, live->account);
    }
}

std::optional<LiveSite::Clock::time_point> LiveSite::rebuild(Live& live) {
    std::lock_guard build(live.build);
    auto built_version = [&] {
        std::lock_guard lock(live.mutex);
        return live.loaded ? std::int64_t(live.built ? live.built->info().generation : 0) : -1;
    };
    if (built_version() == store_.version(live.account)) return std::nullopt;  // changes already taken in
    // The classic upload deletes everything and then sends the tables one by one, the
    // competition's options last. While they are missing after a state that had them, an upload
    // is under way: the state before stays served, unless the upload broke off (upload_grace).
    if (live.whole && store_.count(live.account, kLastUploadTable).value_or(0) == 0) {
        const auto now = Clock::now();
        if (!live.partial_since) live.partial_since = now;
        if (now - *live.partial_since < upload_grace_) return *live.partial_since + upload_grace_;
    }
    const auto started = Clock::now();
    // The rows go into the new state as they are read.
    LiveSnapshotBuilder builder;
    const std::int64_t version = store_.read_each(live.account, builder);
    if (built_version() == version) return std::nullopt;
    const auto read = Clock::now();
    // An account never written has no competition; one emptied has an empty one.
    auto snapshot = version == 0 ? nullptr : builder.snapshot(live.account, version);
    const auto ms = [](Clock::duration d) {
        return std::to_string(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
    };
    logging::log_line("live view of " + live.account + ": " + std::to_string(builder.rows()) +
                      " rows read and inserted in " + ms(read - started) + " ms, indexed and handed over in " +
                      ms(Clock::now() - read) + " ms");
    live.partial_since.reset();
    live.whole = builder.rows_of(std::string(kLastUploadTable)) > 0;
    {
        std::lock_guard lock(live.mutex);
        live.built = std::move(snapshot);
        live.loaded = true;
    }
    live.served->poke();
    return std::nullopt;
}

std::shared_ptr<const db::Snapshot> LiveSite::current(Live& live) {
    if (!live.is_loaded()) rebuild(live);
    return live.served->current();
}

bool LiveSite::answer(const Request& request, Response& response) { return route(request, response, false); }

bool LiveSite::answer_quick(const Request& request, Response& response) {
    try {
        return route(request, response, true);
    } catch (const std::exception&) {
        return false;  // the worker answers it
    }
}

bool LiveSite::route(const Request& request, Response& response, bool quick) {
    if (request.command != "GET" && request.command != "HEAD") return false;
    const std::optional<Route> r = Route::parse(request.document_path);
    if (!r) return false;
    response.server_name = "ringolan-site";
    const bool api = server::is_api_address(r->rest);
    const std::shared_ptr<Live> live = live_of(r->account);
    if (!live) {
        not_found(response, api);
        return true;
    }
    if (server::is_live_address(r->rest)) {
        if (quick && r->rest.ends_with("/qr.svg")) return false;  // made for each request
        server::AnswerLive(request, response, r->mount);
        return true;
    }
    if (r->rest.empty() || r->rest == "/") {
        response.set_status(302);
        response.extra_headers = "Location: /ergebnisse/?id=" + r->account + "\r\n";
        return true;
    }
    if (!api) {
        not_found(response, false);
        return true;
    }
    if (quick && !live->is_loaded()) return false;  // the first build runs on a worker
    const auto snapshot = quick ? live->served->current() : current(*live);
    if (r->rest == server::kEventsPath) {
        server::AnswerEventStream(*live->hub, request, response);
        return true;
    }
    return answer_api(*live, snapshot, *r, request, response, quick);
}

bool LiveSite::answer_api(Live& live, const std::shared_ptr<const db::Snapshot>& snapshot, const Route& r,
                          const Request& request, Response& response, bool quick) {
    const std::string_view query = request.query;
    auto generate = [&] { return server::RenderApi(snapshot, r.rest, query); };
    server::PageCache::SharedPage page;
    if (quick)
        page = snapshot ? live.cache->find(snapshot, {}, r.rest, query) : nullptr;
    else
        page = snapshot ? live.cache->get(snapshot, {}, r.rest, query, generate) : server::PageCache::share(generate());
    if (!page) return false;
    send_page(page, request, response);
    return true;
}

}  // namespace ringolan::site
