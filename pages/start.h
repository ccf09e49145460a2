// start.php: the home page with the alphabet of initial letters, the start picture and the
// free link of the start-page settings.
#pragma once

#include <string>

#include "pages/page_context.h"

namespace ringolan::pages {

// The complete document (Windows-1252), sent without page head and foot. Reads only
// ctx.start; the database is not touched.
std::string start_page(PageContext& ctx);

}  // namespace ringolan::pages
