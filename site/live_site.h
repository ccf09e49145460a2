// The live view of each account on the site, answered by the range server's code:
//   /a/{id}/live/...         the view's files and pages
//   /a/{id}/api/v1/...       the JSON API, from a snapshot of the account's stored tables
//   /a/{id}/api/v1/events    server-sent events when those tables change
//   /a/{id}/                 a redirect to the account's classic overview
// An account's snapshot is built when it is first asked for and again after each change the
// store reports (a burst of changes makes one build), one build at a time on a thread of its
// own; requests are answered from the snapshot before meanwhile. A new snapshot is served and
// announced to event clients once its most requested API answers are made, and answers are
// kept per snapshot, both as on the range server (server::ServedSnapshot, server::PageCache).
// While a classic upload is under way (everything deleted, tables arriving one by one), the
// state before it stays served. An unknown account gets 404: a JSON error from the API, a page otherwise.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "db/snapshot/snapshot.h"
#include "server/event_hub.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/page_cache.h"
#include "server/served_snapshot.h"
#include "site/accounts.h"
#include "site/store.h"

namespace ringolan::site {

inline constexpr std::string_view kAccountPrefix = "/a/";

class LiveSite {
public:
    using Clock = std::chrono::steady_clock;
    struct Timing {
        // A change is built this long after it was reported, with those that followed meanwhile.
        std::chrono::milliseconds settle{200};
        // The longest an upload under way keeps the state before it served (see rebuild).
        std::chrono::milliseconds upload_grace{60000};
    };

    LiveSite(const Accounts& accounts, SiteStore& store, Timing timing);
    LiveSite(const Accounts& accounts, SiteStore& store) : LiveSite(accounts, store, Timing{}) {}
    ~LiveSite();
    LiveSite(const LiveSite&) = delete;
    LiveSite& operator=(const LiveSite&) = delete;

    // Answers a GET or HEAD below "/a/" and returns true; false for every other address.
    // Failures of the store are thrown (the server answers 500).
    bool answer(const server::Request& request, server::Response& response);
    // The same on the I/O thread for what needs no database work: the view's files, event
    // streams and API answers already made for a built snapshot; false otherwise. Never throws.
    bool answer_quick(const server::Request& request, server::Response& response);

    // Tells that the account's tables changed (any thread, returns at once; for the store's
    // on_change): a new snapshot is built when the account is being viewed.
    void changed(const std::string& account);

    // Event-stream clients of an account (tests, benchmarks).
    std::size_t event_clients(const std::string& account);

private:
    struct Live;
    struct Route;

    // The account's live state, made on first use; nullptr for an unknown account.
    std::shared_ptr<Live> live_of(const std::string& account);
    // The account's snapshot, built now when none was yet (nullptr: no data uploaded).
    std::shared_ptr<const db::Snapshot> current(Live& live);
    // Reads the account's tables and serves a snapshot of them unless it is the one served;
    // returns when to look again when an upload under way was left for later.
    std::optional<Clock::time_point> rebuild(Live& live);
    void run_builds();
    bool route(const server::Request& request, server::Response& response, bool quick);
    // False when quick and the answer is not made yet.
    bool answer_api(Live& live, const std::shared_ptr<const db::Snapshot>& snapshot, const Route& r,
                    const server::Request& request, server::Response& response, bool quick);

    const Accounts& accounts_;
    SiteStore& store_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<Live>, std::less<>> lives_;  // under mutex_
    const std::chrono::milliseconds settle_, upload_grace_;
    std::deque<std::string> pending_;                                  // accounts to rebuild, under mutex_
    std::multimap<Clock::time_point, std::string> retries_;            // accounts to look at again, under mutex_
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread builder_;
};

}  // namespace ringolan::site
