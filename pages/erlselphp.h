// erlsel.php: the index of all result lists, team competitions first, then single ones.
#pragma once

#include <string>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252); takes no parameters. Database errors propagate.
std::string erlsel_page(PageContext& ctx);

}  // namespace ringolan::pages
