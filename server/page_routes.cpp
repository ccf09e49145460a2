#include "server/page_routes.h"

#include "pages/erlphp.h"
#include "pages/erlselphp.h"
#include "pages/estphp.h"
#include "pages/merlphp.h"
#include "pages/mmerlphp.h"
#include "pages/ofslphp.h"
#include "pages/sbphp.h"
#include "pages/start.h"
#include "pages/vstblphp.h"
#include "pages/vstphp.h"

namespace ringolan::server {

namespace {

std::string start(pages::PageContext& ctx, std::string_view) { return pages::start_page(ctx); }
std::string vstbl(pages::PageContext& ctx, std::string_view) { return pages::vstbl_page(ctx); }
std::string erlsel(pages::PageContext& ctx, std::string_view) { return pages::erlsel_page(ctx); }

// One entry per page generator, in this order of tests:
// start.php (unframed), vstbl.php, vst.php, est.php, ofls.php, sb.php, /erl.php, /merl.php,
// mmerl.php, erlsel.php. A page whose generator is not here answers as not found.
const PageRoute kRoutes[] = {
    {"start.php", start, false},
    {"vstbl.php", vstbl, true},
    {"vst.php", pages::vst_page, true},
    {"est.php", pages::est_page, true},
    {"ofls.php", pages::ofls_page, true},
    {"sb.php", pages::sb_page, true},
    {"/erl.php", pages::erl_page, true},
    {"/merl.php", pages::merl_page, true},
    {"mmerl.php", pages::mmerl_page, true},
    {"erlsel.php", erlsel, true},
};

}  // namespace

std::span<const PageRoute> page_routes() { return kRoutes; }

PageResult DispatchPage(pages::PageContext& ctx, std::string_view document_path, std::string_view query) {
    return DispatchPage(page_routes(), ctx, document_path, query);
}

}  // namespace ringolan::server
