// The address of live publishing, below the site's API:
//   POST /api/v1/accounts/{id}/changes   a batch (change_batch_json.h), optionally with
//                                        "Content-Encoding: gzip"; applied all or nothing
//   GET  /api/v1/accounts/{id}/changes   the account's live state
// Both need HTTP Basic authentication with the account id and its password (Windows-1252, as
// the classic upload sends it). Answers are JSON {"outcome":..,"stream":..,"sequence":..}:
// 200 for applied and duplicate, 409 for a conflict; 401 for wrong credentials, 400 with a
// German text for a malformed batch, 413 for a body past the caps.
#pragma once

#include <cstddef>

#include "server/http_request.h"
#include "server/http_response.h"
#include "site/accounts.h"
#include "site/store.h"

namespace ringolan::site {

// Largest batch body as sent and unpacked.
inline constexpr std::size_t kMaxChangesBodyBytes = std::size_t(64) << 20;
inline constexpr std::size_t kMaxChangesUnpackedBytes = std::size_t(256) << 20;

// Answers a request for the changes address; false, with nothing answered, for another path.
bool serve_changes(const server::Request& request, server::Response& response, const Accounts& accounts,
                   SiteStore& store);

}  // namespace ringolan::site
