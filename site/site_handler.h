// Request handling of the publishing site. The four upload addresses below "/ergebnisse/":
//   loeschen.php?id=&pw=     delete the account's data; body "0" on success, another text
//                            (status 200, which is what the upload judges) on failure
//   5.php?id=  (POST)        multipart form with "was"="doit" and the gzip file in "bild"
//   einfuegen.php?id=&pw=    load the posted file; all or nothing
//   anzahl.php?id=&tabelle=  rows held of the table, as bare digits
// and the pages: "/" (accounts), "/ergebnisse/?id=" (overview), "/ergebnisse/tabelle.php".
// Failures answer with a status outside 200..299 and a one-line text saying why.
#pragma once

#include <functional>

#include "server/http_request.h"
#include "server/http_response.h"
#include "site/accounts.h"
#include "site/store.h"

namespace ringolan::site {

class SiteHandler {
public:
    SiteHandler(const Accounts& accounts, SiteStore& store) : accounts_(accounts), store_(store) {}

    void operator()(const server::Request& request, server::Response& response);

    // Answers further addresses (the live view below "/a/") and returns true, or false for
    // addresses that are not its own. Set before serving.
    using Routes = std::function<bool(const server::Request&, server::Response&)>;
    void set_live_routes(Routes routes) { live_routes_ = std::move(routes); }

private:
    void remove(const server::Request& request, server::Response& response);
    void upload(const server::Request& request, server::Response& response);
    void insert(const server::Request& request, server::Response& response);
    void count(const server::Request& request, server::Response& response);
    void overview(const server::Request& request, server::Response& response);
    void table(const server::Request& request, server::Response& response);

    // The account named by "id", or nullptr after answering 404.
    const Account* account_of(const server::Request& request, server::Response& response);

    const Accounts& accounts_;
    SiteStore& store_;
    Routes live_routes_;
};

}  // namespace ringolan::site
