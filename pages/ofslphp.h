// ofls.php: the shooters whose surname begins with a given text, with start number and club.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// The body fragment (Windows-1252) for the query text, e.g. "B=A": the initial text is the
// text behind the first "=" (at most 20 characters, raw: no cut at "&", no percent-decoding),
// or the first 20 characters when there is no "=". It is matched with LIKE followed by "%",
// so "%" and "_" in it act as wildcards. An initial text with a double quote throws
// InputError. Database errors propagate.
std::string ofls_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
