// vst.php: one club with links to the club list and its teams, and its shooters by name.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252) for the query text, e.g. "NR=12": the club number is the
// text behind the first "=" (at most 20 characters, no cut at "&"), or the first 20 characters
// when there is no "=". A club number with a double quote throws InputError; an unknown club
// gives an empty name and table. Database errors propagate.
std::string vst_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
