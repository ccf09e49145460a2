// Answers one request: page addresses through the dispatcher, everything else from the web root.
#pragma once

#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "db/snapshot/snapshot.h"
#include "pages/page_context.h"
#include "server/http_request.h"
#include "server/http_response.h"
#include "server/page_cache.h"

namespace ringolan::server {

// File extension (lower-cased, with its dot) to content type.
class MimeTable {
public:
    MimeTable();  // the fixed list of common types
    // Content type for a file name's extension; "application/octet-stream" when unknown.
    std::string lookup(const std::string& file_name) const;
    void add(const std::string& extension, const std::string& type);

private:
    std::map<std::string, std::string> types_;
};

struct HandlerEnv {
    std::filesystem::path web_root;  // the folder "Web" beside the program, or the one given
    MimeTable mime;
    // The newest snapshot of the competition file (nullptr when none is loaded); taken once per page.
    std::function<std::shared_ptr<const db::Snapshot>()> snapshot;
    // The start page's current settings; defaults when empty.
    std::function<pages::StartSettings()> start_settings;
    // Pages generated from the current snapshot; none: every page is generated. Requests
    // missing the same page at once share one generation.
    std::shared_ptr<PageCache> cache;
    // Receives the bytes of every answered page (the window's memo); may be empty. Called on
    // request threads; it must not block.
    std::function<void(const std::shared_ptr<const std::string>&)> on_page;
};

// HTTPServerCommandGet: fills the response. A file to send goes into response.file with
// response.content_length set to its size; the server streams it after the head.
void HandleRequest(const HandlerEnv& env, const Request& request, Response& response);

// The answer HandleRequest would give when it is a page already in env.cache: fills the
// response and returns true. Returns false, leaving the response as it was, for everything
// else. Never generates a page or touches the disk, so it suits the server's I/O threads.
bool AnswerFromCache(const HandlerEnv& env, const Request& request, Response& response);

}  // namespace ringolan::server
