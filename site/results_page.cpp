#include "site/results_page.h"

#include "common/escape.h"
#include "site/query.h"

namespace ringolan::site {

using text::Ampersand;
using text::escape_html;

namespace {

// Tables shown with their first rows on the overview.
constexpr std::string_view kOverviewTables[] = {"verein", "wettb_def", "starter"};

std::string page(std::string_view title, const std::string& body) {
    return "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + escape_html(title, Ampersand::Escaped) +
           "</title>\n<style>body{font-family:sans-serif}table{border-collapse:collapse}"
           "td,th{border:1px solid #999;padding:2px 6px}th{background:#eee}</style></head>\n<body>\n" +
           body + "</body></html>\n";
}

std::string table_link(const Account& account, std::string_view table) {
    return "tabelle.php?id=" + percent_encode(account.id) + "&amp;tabelle=" + percent_encode(table);
}

std::string rows_html(const TableRows& rows) {
    if (rows.columns.empty()) return "<p>Keine Daten.</p>\n";
    std::string out = "<table>\n<tr>";
    for (const std::string& c : rows.columns) out += "<th>" + escape_html(c, Ampersand::Escaped) + "</th>";
    out += "</tr>\n";
    for (const auto& row : rows.rows) {
        out += "<tr>";
        for (const auto& cell : row) out += "<td>" + (cell ? escape_html(*cell, Ampersand::Escaped) : std::string()) + "</td>";
        out += "</tr>\n";
    }
    return out + "</table>\n";
}

// Wert_str of the "itdatum" option row, when one arrived.
std::string upload_time(const Account& account, SiteStore& store) {
    const std::optional<TableRows> rows = store.rows(account.id, "veranstaltung", 10000);
    if (!rows) return {};
    std::size_t option = rows->columns.size(), value = rows->columns.size();
    for (std::size_t i = 0; i < rows->columns.size(); ++i) {
        if (rows->columns[i] == "_option") option = i;
        if (rows->columns[i] == "wert_str") value = i;
    }
    if (option == rows->columns.size() || value == rows->columns.size()) return {};
    for (const auto& row : rows->rows)
        if (row[option] && *row[option] == "itdatum" && row[value]) return *row[value];
    return {};
}

}  // namespace

std::string index_page(const Accounts& accounts) {
    std::string body = "<h1>Ergebnisse</h1>\n<ul>\n";
    for (const auto& [id, account] : accounts.all())
        body += "<li><a href=\"/ergebnisse/?id=" + percent_encode(id) + "\">" + escape_html(account.name, Ampersand::Escaped) +
                "</a></li>\n";
    return page("Ergebnisse", body + "</ul>\n");
}

std::string account_page(const Account& account, SiteStore& store) {
    std::string body = "<h1>" + escape_html(account.name, Ampersand::Escaped) + "</h1>\n";
    const std::string when = upload_time(account, store);
    body += "<p>Letzter Upload: " + (when.empty() ? std::string("unbekannt") : escape_html(when, Ampersand::Escaped)) + "</p>\n";
    body += "<h2>Tabellen</h2>\n<table>\n<tr><th>Tabelle</th><th>Zeilen</th></tr>\n";
    for (const TableDef& t : upload_tables()) {
        const std::int64_t n = store.count(account.id, t.name).value_or(0);
        body += "<tr><td><a href=\"" + table_link(account, t.name) + "\">" + std::string(t.name) + "</a></td><td>" +
                std::to_string(n) + "</td></tr>\n";
    }
    body += "</table>\n";
    for (std::string_view name : kOverviewTables) {
        body += "<h2>" + std::string(name) + "</h2>\n";
        body += rows_html(store.rows(account.id, name, kOverviewRows).value_or(TableRows{}));
        body += "<p><a href=\"" + table_link(account, name) + "\">alle Zeilen</a></p>\n";
    }
    return page(account.name, body);
}

std::string table_page(const Account& account, SiteStore& store, const TableDef& table) {
    const std::int64_t n = store.count(account.id, table.name).value_or(0);
    std::string body = "<p><a href=\"./?id=" + percent_encode(account.id) + "\">" + escape_html(account.name, Ampersand::Escaped) +
                       "</a></p>\n<h1>" + std::string(table.name) + "</h1>\n<p>" + std::to_string(n) + " Zeilen";
    if (n > std::int64_t(kTablePageRows)) body += ", die ersten " + std::to_string(kTablePageRows) + " gezeigt";
    body += "</p>\n" + rows_html(store.rows(account.id, table.name, kTablePageRows).value_or(TableRows{}));
    return page(std::string(table.name) + " - " + account.name, body);
}

}  // namespace ringolan::site
