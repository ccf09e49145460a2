#include "server/page_service.h"

#include <chrono>
#include <exception>
#include <utility>

#include "common/cp1252.h"
#include "common/log.h"
#include "server/live_routes.h"

namespace ringolan::server {

namespace {

// Request text in a log line: cut, and control bytes replaced.
std::string clean(std::string_view text, std::size_t limit) {
    std::string out;
    for (char c : text.substr(0, limit)) out += (static_cast<unsigned char>(c) < 32 || c == 127) ? '?' : c;
    if (text.size() > limit) out += "...";
    return out;
}

using Clock = std::chrono::steady_clock;

// One access-log line: client, command, target, status, bytes, milliseconds. Request text is
// cut and its control bytes replaced, so that a client cannot forge log lines.
std::string access_line(const Request& request, const Response& response, Clock::duration took) {
    std::string target = request.document_path;
    if (!request.query.empty()) target += "?" + request.query;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(took).count();
    const int64_t bytes = response.content_length >= 0 ? response.content_length : int64_t(response.body().size());
    return "access " + request.remote_address + " " + clean(request.command, 16) + " " + clean(target, 300) + " " +
           std::to_string(response.status_code) + " " + std::to_string(bytes) + " " + std::to_string(ms) + "ms";
}

// /api/v1/events; quick enough for the I/O thread.
bool answer_events(EventHub& events, ServedSnapshot& served, const Request& request, Response& response) {
    if (request.document_path != kEventsPath) return false;
    served.current();  // the hub learns the served state before the client is attached
    AnswerEventStream(events, request, response);
    return true;
}

}  // namespace

PageService::PageService(PageServiceConfig config)
    : env_(std::make_shared<HandlerEnv>()), events_(std::make_shared<EventHub>()), access_log_(config.access_log) {
    env_->web_root = std::move(config.web_root);
    env_->start_settings = std::move(config.start_settings);
    env_->on_page = std::move(config.on_page);
    env_->cache = std::make_shared<PageCache>();
    auto latest = config.latest ? std::move(config.latest) : [] { return std::shared_ptr<const db::Snapshot>(); };
    // A new state of the file is served once its most requested pages are in the cache; event
    // clients hear of it then.
    ServedSnapshot::Options options;
    options.on_served = [events = events_](const std::shared_ptr<const db::Snapshot>& snapshot) {
        if (snapshot) events->publish({snapshot->info().generation, state_tag(snapshot.get())});
    };
    served_ = std::make_shared<ServedSnapshot>(std::move(latest), env_->cache, std::move(options));
    env_->snapshot = [served = served_] { return served->current(); };
}

PageService::~PageService() = default;

std::function<void()> PageService::state_notifier() const {
    return [weak = std::weak_ptr<ServedSnapshot>(served_)] {
        if (const auto served = weak.lock()) served->poke();
    };
}

HttpServer::Handler PageService::handler() const {
    return [env = env_, events = events_, served = served_, access_log = access_log_](const Request& request,
                                                                                        Response& response) {
        const auto begun = Clock::now();
        try {
            if (!answer_events(*events, *served, request, response)) HandleRequest(*env, request, response);
        } catch (const std::exception& e) {
            // The server answers 500 with the error text; page errors are Windows-1252 texts.
            logging::log_line("failure " + clean(request.document_path, 300) + ": " +
                              clean(text::cp1252_to_utf8(e.what()), 1000));
            if (access_log) {
                Response failed;
                failed.status_code = 500;
                logging::log_line(access_line(request, failed, Clock::now() - begun));
            }
            throw;
        }
        if (access_log) logging::log_line(access_line(request, response, Clock::now() - begun));
    };
}

HttpServer::QuickHandler PageService::quick_handler() const {
    return [env = env_, events = events_, served = served_, access_log = access_log_](const Request& request,
                                                                                        Response& response) {
        const auto begun = Clock::now();
        if (!answer_events(*events, *served, request, response) && !AnswerFromCache(*env, request, response))
            return false;
        if (access_log) logging::log_line(access_line(request, response, Clock::now() - begun));
        return true;
    };
}

std::unique_ptr<HttpServer> PageService::make_server(HttpServer::ConnectObserver on_connect,
                                                     ServerOptions options) const {
    auto server = std::make_unique<HttpServer>(handler(), std::move(on_connect), options);
    server->set_quick_handler(quick_handler());
    return server;
}

}  // namespace ringolan::server
