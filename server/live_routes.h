// Addresses of the live view (/live/...) and of its JSON API (/api/v1/...), answered before the
// web root. API answers are functions of the snapshot and the address, cached like pages.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "db/snapshot/snapshot.h"
#include "pages/page_context.h"
#include "server/dispatcher.h"
#include "server/http_request.h"
#include "server/http_response.h"

namespace ringolan::server {

inline constexpr std::string_view kApiPrefix = "/api/v1";
inline constexpr std::string_view kLivePrefix = "/live";
inline constexpr std::string_view kEventsPath = "/api/v1/events";

// "/api/v1" itself or below it.
bool is_api_address(std::string_view document_path);
// "/live" itself or below it.
bool is_live_address(std::string_view document_path);

// The API's answer from this snapshot (nullptr: no competition open), as JSON with its ETag.
PageResult RenderApi(const std::shared_ptr<const db::Snapshot>& snapshot, std::string_view document_path,
                     std::string_view query);

// What the page cache keeps for an address: the API's answer or a classic page.
PageResult RenderAddress(pages::PageContext& ctx, std::string_view document_path, std::string_view query);

// A file or page of the live view, or the QR code of the view's address as the client reached
// it; 404 for anything else below /live/. Needs neither snapshot nor disk. With a mount ("/a/x"),
// the view is served below mount + "/live/": the request's path starts with the mount, and the
// view's pages name their files, the classic pages and the QR code's address below it.
void AnswerLive(const Request& request, Response& response, std::string_view mount = {});

// The state of the file as validators and event ids name it: its generation and the moment it
// was read ("0" without a snapshot).
std::string state_tag(const db::Snapshot* snapshot);

// Whether the request's If-None-Match names this ETag.
bool etag_matches(const Request& request, std::string_view etag);

}  // namespace ringolan::server
