// Chooses the page generator by substrings of the document path and wraps its fragment in the
// page frame.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::server {

struct PageResult {
    PageResult() = default;
    PageResult(std::string body_bytes, int status_code) : body(std::move(body_bytes)), status(status_code) {}

    std::string body;  // Windows-1252 (classic pages) or UTF-8 (live view and API)
    int status = 404;
    std::string content_type;  // empty: the response's default (text/html)
    std::string etag;          // quoted; empty: no validator, no Cache-Control
};

// Page head, page foot and the fixed pages, byte for byte.
extern const std::string_view kPageHead;
extern const std::string_view kPageFoot;
extern const std::string_view kNotFoundPage;

// document_path: decoded, beginning with "/"; query: raw text after the first "?".
// A failing generator throws (db::QueryError, pages::InputError, ...); the caller answers 500.
PageResult DispatchPage(pages::PageContext& ctx, std::string_view document_path, std::string_view query);
std::string FramesetPage(std::string_view text);

}  // namespace ringolan::server
