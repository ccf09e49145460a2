// vstbl.php: every club with at least one shooter and its number of shooters, most first.
#pragma once

#include <string>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252). Database errors propagate.
std::string vstbl_page(PageContext& ctx);

}  // namespace ringolan::pages
