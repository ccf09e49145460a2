// The site's own pages (UTF-8 HTML): the list of accounts, an account's overview with row
// counts and a few tables, and one table's rows.
#pragma once

#include <string>
#include <string_view>

#include "site/accounts.h"
#include "site/store.h"
#include "site/tables.h"

namespace ringolan::site {

// Rows shown on the overview per table, and on a table's own page.
inline constexpr std::size_t kOverviewRows = 20;
inline constexpr std::size_t kTablePageRows = 500;

std::string index_page(const Accounts& accounts);
std::string account_page(const Account& account, SiteStore& store);
std::string table_page(const Account& account, SiteStore& store, const TableDef& table);

}  // namespace ringolan::site
