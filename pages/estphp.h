// est.php: one shooter with the shot targets and the ranks in team and single competitions.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252) for the query text, e.g. "ST=1017": the start number is
// the text behind the first "=" (at most 20 characters, no cut at "&"). A start number that
// is not a whole number throws InputError; database errors propagate.
std::string est_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
