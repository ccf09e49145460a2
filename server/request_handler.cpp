#include "server/request_handler.h"

#include <algorithm>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "pages/page_context.h"
#include "server/dispatcher.h"
#include "server/live_routes.h"
#include "server/page_routes.h"

namespace ringolan::server {

namespace fs = std::filesystem;

namespace {

constexpr char kFileNotFound[] = "<html><head><title>Error</title></head><body><h1>Not Found</h1></body></html>";

void not_found(Response& response) {
    response.set_status(404);
    response.content = kFileNotFound;
}

// The path's components without a trailing empty one ("a/b/" has the components of "a/b").
std::vector<fs::path> components(const fs::path& p) {
    std::vector<fs::path> out(p.begin(), p.end());
    if (!out.empty() && out.back().empty()) out.pop_back();
    return out;
}

// Whether path is root or lies below it, compared component by component.
bool is_within(const fs::path& path, const fs::path& root) {
    const auto r = components(root);
    const auto p = components(path);
    return p.size() >= r.size() && std::equal(r.begin(), r.end(), p.begin());
}

// Throws when the file cannot be opened for reading; the server answers 500.
void check_readable(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) throw std::runtime_error("Datei kann nicht gelesen werden: " + file.string());
}

// Addresses whose answers are functions of the snapshot, kept in the page cache.
bool is_page(const Request& request) {
    if (is_api_address(request.document_path)) return request.document_path != kEventsPath;
    if (is_live_address(request.document_path)) return false;
    return ascii_lower(request.document_path).find(".php") != std::string::npos;
}

// The page's bytes go out as they are held (shared with the cache, a long one from its file).
// An API answer carries its validator; a client holding it gets 304 without the body.
void answer_page(const HandlerEnv& env, PageCache::SharedPage page, const Request& request, Response& response) {
    if (!page->etag.empty()) {
        response.content_type = page->content_type;
        response.extra_headers = "Cache-Control: no-cache\r\nETag: " + page->etag + "\r\n";
        if (etag_matches(request, page->etag)) return response.set_status(304);
    }
    response.set_status(page->status);
    response.shared_content = std::shared_ptr<const std::string>(page, &page->body);
    response.body_file = page->file;
    if (env.on_page && page->etag.empty()) env.on_page(response.shared_content);
}

void handle_page(const HandlerEnv& env, const Request& request, Response& response) {
    pages::PageContext ctx;
    if (env.snapshot) ctx.snapshot = env.snapshot();
    if (env.start_settings) ctx.start = env.start_settings();
    auto generate = [&] { return RenderAddress(ctx, request.document_path, request.query); };
    PageCache::SharedPage page = env.cache
                                     ? env.cache->get(ctx.snapshot, ctx.start, request.document_path, request.query, generate)
                                     : PageCache::share(generate());
    answer_page(env, std::move(page), request, response);
}

void handle_file(const HandlerEnv& env, const Request& request, Response& response) {
    std::string relative = request.document_path;
    if (relative.find('\0') != std::string::npos) return not_found(response);
    std::replace(relative.begin(), relative.end(), '\\', '/');  // both count as separators
    relative.erase(0, relative.find_first_not_of('/'));

    std::error_code ec;
    const fs::path root = fs::canonical(env.web_root, ec);
    if (ec) return not_found(response);

    // "." and ".." are resolved on the name as written; the containment test below then
    // follows symbolic links on exactly that name.
    fs::path name = (root / relative).lexically_normal();
    if (fs::is_directory(name, ec)) {
        const fs::path index = (name / "index.html").lexically_normal();
        if (fs::is_regular_file(index, ec)) name = index;
    }

    const fs::path real = fs::weakly_canonical(name, ec);
    if (ec || !is_within(real, root)) return not_found(response);
    if (!fs::is_regular_file(real, ec)) return not_found(response);  // folders, devices, FIFOs

    check_readable(real);
    const auto size = fs::file_size(real);  // throws on failure
    response.set_status(200);
    response.content_type = env.mime.lookup(name.string());
    response.content_length = int64_t(size);
    if (ascii_lower(request.command) != "head") response.file = real;
}

}  // namespace

MimeTable::MimeTable() {
    types_ = {
        {".htm", "text/html"},
        {".html", "text/html"},
        {".css", "text/css"},
        {".gif", "image/gif"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".jpe", "image/jpeg"},
        {".png", "image/x-png"},
        {".txt", "text/plain"},
        {".zip", "application/x-zip-compressed"},
        {".js", "application/javascript"},
        {".ico", "image/x-icon"},
        {".svg", "image/svg+xml"},
        {".pdf", "application/pdf"},
        {".xml", "text/xml"},
        {".json", "application/json"},
    };
}

std::string MimeTable::lookup(const std::string& file_name) const {
    const auto dot = file_name.rfind('.');
    if (dot == std::string::npos || file_name.find_first_of("/\\", dot) != std::string::npos)
        return "application/octet-stream";
    const auto it = types_.find(ascii_lower(std::string_view(file_name).substr(dot)));
    return it == types_.end() ? "application/octet-stream" : it->second;
}

void MimeTable::add(const std::string& extension, const std::string& type) { types_[ascii_lower(extension)] = type; }

bool AnswerFromCache(const HandlerEnv& env, const Request& request, Response& response) {
    if (is_live_address(request.document_path) && !request.document_path.ends_with("/qr.svg")) {
        AnswerLive(request, response);  // files held in memory
        return true;
    }
    if (!env.cache || !is_page(request)) return false;
    const auto snapshot = env.snapshot ? env.snapshot() : nullptr;
    const pages::StartSettings start = env.start_settings ? env.start_settings() : pages::StartSettings{};
    auto page = env.cache->find(snapshot, start, request.document_path, request.query);
    if (!page) return false;
    answer_page(env, std::move(page), request, response);
    return true;
}

void HandleRequest(const HandlerEnv& env, const Request& request, Response& response) {
    if (is_live_address(request.document_path))
        AnswerLive(request, response);
    else if (is_page(request))
        handle_page(env, request, response);
    else
        handle_file(env, request, response);
}

}  // namespace ringolan::server
