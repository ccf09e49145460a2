// erl.php: the ranked results list of one result list, one shooter's rows highlighted.
#pragma once

#include <string>
#include <string_view>

#include "pages/page_context.h"

namespace ringolan::pages {

// A result value as its cell text: one decimal when 0 < v <= 10000, otherwise empty.
std::string result_cell(double value);

// The body fragment (Windows-1252). Throws InputError when the list number ("titel=") is no
// whole number; database errors propagate.
std::string erl_page(PageContext& ctx, std::string_view query);

}  // namespace ringolan::pages
