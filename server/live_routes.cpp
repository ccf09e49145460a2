#include "server/live_routes.h"

#include <cstdint>
#include <cctype>
#include <cstdio>

#include "api/api.h"
#include "common/cp1252.h"
#include "common/hash.h"
#include "common/log.h"
#include "common/ascii.h"
#include "db/snapshot/read_recorder.h"
#include "live/assets.h"
#include "live/qr_svg.h"
#include "server/page_routes.h"

namespace ringolan::server {

namespace {

constexpr std::string_view kJson = "application/json; charset=utf-8";

bool has_prefix(std::string_view path, std::string_view prefix) {
    return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

std::string hex(uint64_t value) {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(value));
    return buf;
}

// The address the client used to reach the view, from its Host header; only the characters
// a host name and port can hold.
std::string view_address(const Request& request, std::string_view mount) {
    std::string host;
    for (char c : text::trim(request.host).substr(0, 255))
        if (std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == ':' || c == '[' || c == ']')
            host += c;
    if (host.empty()) host = "localhost";
    return "http://" + host + std::string(mount) + "/live/";
}

// A page of the view with its absolute addresses moved below the mount.
std::string mounted_page(std::string_view page, std::string_view mount) {
    std::string out;
    const std::string live = "\"" + std::string(mount) + "/live/";
    const std::string home = "href=\"" + std::string(mount) + "/\"";
    for (std::size_t i = 0; i < page.size();) {
        if (page.substr(i).starts_with("\"/live/")) {
            out += live;
            i += 7;
        } else if (page.substr(i).starts_with("href=\"/\"")) {
            out += home;
            i += 8;
        } else {
            out += page[i++];
        }
    }
    return out;
}

}  // namespace

// The read time in the tag tells a restarted server's first states from a client's older ones.
std::string state_tag(const db::Snapshot* snapshot) {
    if (!snapshot) return "0";
    const auto& info = snapshot->info();
    const auto read_ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(info.read_at.time_since_epoch()).count();
    return std::to_string(info.generation) + "." + hex(uint64_t(read_ms)).substr(5);
}

bool is_api_address(std::string_view document_path) { return has_prefix(document_path, kApiPrefix); }
bool is_live_address(std::string_view document_path) { return has_prefix(document_path, kLivePrefix); }

PageResult RenderApi(const std::shared_ptr<const db::Snapshot>& snapshot, std::string_view document_path,
                     std::string_view query) {
    // Every answer names its state: "state" in the body (the live view compares it with the
    // numbers of the event stream) and the state tag in the ETag. Carried over to a new state it
    // would differ from a fresh generation there, so it is made again for every state.
    db::ReadRecorder::note_whole_state();
    const std::string_view resource = document_path.substr(kApiPrefix.size());
    api::Answer answer;
    try {
        answer = snapshot ? api::answer(*snapshot, resource, query) : api::no_competition();
    } catch (const std::exception& e) {
        // The client gets no database text; the log names the failure.
        std::string address(document_path.substr(0, 300));
        for (char& c : address) if (static_cast<unsigned char>(c) < 32) c = '?';  // no forged log lines
        logging::log_line("failure " + address + ": " + text::cp1252_to_utf8(e.what()));
        answer = {500, "{\"error\":\"Die Wettkampfdaten konnten nicht gelesen werden.\"}"};
    }
    PageResult page;
    page.status = answer.status;
    page.body = answer.json;
    page.content_type = kJson;
    const uint64_t address = text::fnv1a(query, text::fnv1a(document_path)) ^ query.size();
    page.etag = "\"" + state_tag(snapshot.get()) + "-" + hex(address) + "\"";
    return page;
}

PageResult RenderAddress(pages::PageContext& ctx, std::string_view document_path, std::string_view query) {
    if (is_api_address(document_path)) return RenderApi(ctx.snapshot, document_path, query);
    return DispatchPage(ctx, document_path, query);
}

bool etag_matches(const Request& request, std::string_view etag) {
    const auto wanted = request.header("If-None-Match");
    if (!wanted || etag.empty()) return false;
    std::string_view rest = *wanted;
    while (!rest.empty()) {
        const auto comma = rest.find(',');
        std::string_view one = text::trim(rest.substr(0, comma));
        if (one.starts_with("W/")) one.remove_prefix(2);
        if (one == etag || one == "*") return true;
        if (comma == std::string_view::npos) break;
        rest.remove_prefix(comma + 1);
    }
    return false;
}

void AnswerLive(const Request& request, Response& response, std::string_view mount) {
    std::string_view rest = std::string_view(request.document_path).substr(mount.size() + kLivePrefix.size());
    if (rest.starts_with('/')) rest.remove_prefix(1);
    response.extra_headers = "Cache-Control: no-cache\r\n";
    if (rest == "qr.svg") {
        response.set_status(200);
        response.content_type = "image/svg+xml";
        response.content = live::qr_svg(view_address(request, mount));
        return;
    }
    const live::Asset* asset = live::find_asset(rest);
    if (!asset) {
        response.set_status(404);
        response.content_type = "text/plain; charset=utf-8";
        response.content = "Nicht gefunden.";
        return;
    }
    response.extra_headers += "ETag: " + asset->etag + "\r\n";
    response.content_type = asset->content_type;
    if (etag_matches(request, asset->etag)) return response.set_status(304);
    response.set_status(200);
    auto bytes = asset->bytes;
    if (!mount.empty() && asset->content_type.starts_with("text/html"))
        bytes = std::make_shared<const std::string>(mounted_page(*bytes, mount));
    if (request.command == "HEAD") {
        response.content_length = int64_t(bytes->size());
        return;
    }
    response.shared_content = std::move(bytes);
}

}  // namespace ringolan::server
