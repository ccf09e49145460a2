// Chooses the page generator by substrings of the document path and wraps its fragment in the
// page frame.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::server {

struct PageResult {
    std::string body;  // Windows-1252
    int status = 404;
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
