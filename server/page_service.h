// The page service: everything between the socket layer and the pages, built the same way by
// the window and by ringolan-server. It owns the handler environment (web root, MIME table,
// start settings), the page cache, the served snapshot with the warming of new states, the
// worker handler and the quick handler that answers cached pages on the I/O thread.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "db/snapshot/snapshot.h"
#include "pages/page_context.h"
#include "server/event_hub.h"
#include "server/http_server.h"
#include "server/page_cache.h"
#include "server/request_handler.h"
#include "server/served_snapshot.h"

namespace ringolan::server {

struct PageServiceConfig {
    std::filesystem::path web_root;
    // The newest snapshot of the competition file (the data module's); nullptr when none is open.
    std::function<std::shared_ptr<const db::Snapshot>()> latest;
    // The start page's current settings; defaults when empty.
    std::function<pages::StartSettings()> start_settings;
    // Receives the bytes of every answered page on request threads; must not block. May be empty.
    std::function<void(const std::shared_ptr<const std::string>&)> on_page;
    bool access_log = false;  // one line per request on standard error
};

class PageService {
public:
    explicit PageService(PageServiceConfig config);
    ~PageService();
    PageService(const PageService&) = delete;
    PageService& operator=(const PageService&) = delete;

    // To call when a new state of the file was read (any thread), so that it is warmed and served
    // without waiting for a request. Safe to call after the service is gone.
    std::function<void()> state_notifier() const;

    // Runs on the worker pool: any request; failures are logged and thrown on (the server answers 500).
    HttpServer::Handler handler() const;
    // Runs on the I/O thread: only pages already generated for the served state.
    HttpServer::QuickHandler quick_handler() const;
    // A page server answering through this service.
    std::unique_ptr<HttpServer> make_server(HttpServer::ConnectObserver on_connect = {},
                                            ServerOptions options = {}) const;

    const HandlerEnv& env() const { return *env_; }
    // Clients of /api/v1/events.
    const EventHub& events() const { return *events_; }
    // How new states were taken over: warmed, held out, pages carried over.
    ServedSnapshot::Stats stats() const { return served_->stats(); }

private:
    std::shared_ptr<HandlerEnv> env_;
    std::shared_ptr<EventHub> events_;
    std::shared_ptr<ServedSnapshot> served_;
    bool access_log_ = false;
};

}  // namespace ringolan::server
