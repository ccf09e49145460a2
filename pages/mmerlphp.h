// mmerl.php: one club's teams in every team competition it takes part in (or in one).
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252) for "vnr=<club>[&wettbid=<competition>]". The club number
// is bound as text; a competition number other than "0" that is no whole number throws
// InputError; database errors propagate.
std::string mmerl_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
