// The generator table of the dispatcher: which path substring runs which page generator.
#pragma once

#include "common/ascii.h"

#include <functional>
#include <span>
#include <string>
#include <string_view>

#include "pages/page_context.h"
#include "server/dispatcher.h"

namespace ringolan::server {

// Generators that take no query text ignore the second argument.
using PageGenerator = std::function<std::string(pages::PageContext&, std::string_view query)>;

struct PageRoute {
    std::string_view needle;  // searched in the lower-cased document path
    PageGenerator generate;
    bool framed = true;       // wrap the result in page head and foot
};

// Dispatching over an explicit table, tested in table order; every entry is tested and the
// last match wins. DispatchPage(ctx, path, query) uses page_routes().
PageResult DispatchPage(std::span<const PageRoute> routes, pages::PageContext& ctx,
                        std::string_view document_path, std::string_view query);

// The generators of the product, in the order of the path tests.
std::span<const PageRoute> page_routes();

using text::ascii_lower;

}  // namespace ringolan::server
