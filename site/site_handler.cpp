#include "site/site_handler.h"

#include "common/ascii.h"
#include "site/changes_handler.h"
#include "site/gunzip.h"
#include "site/multipart.h"
#include "site/query.h"
#include "site/results_page.h"
#include "site/statement_parser.h"
#include "site/tables.h"

namespace ringolan::site {

namespace {

using server::Request;
using server::Response;

void answer(Response& response, int status, std::string_view reason, std::string text) {
    response.status_code = status;
    response.reason = std::string(reason);
    response.content_type = "text/plain; charset=utf-8";
    response.content = std::move(text);
}

void html(Response& response, std::string page) {
    response.content_type = "text/html; charset=utf-8";
    response.content = std::move(page);
}

bool password_ok(const Account& account, const Request& request) {
    const std::optional<std::string> pw = query_value(request.query, "pw");
    return pw && verify_password(*pw, account.password_hash);
}

}  // namespace

void SiteHandler::operator()(const Request& request, Response& response) {
    response.server_name = "ringolan-site";
    const std::string path = text::ascii_lower(request.document_path);
    const bool post = request.command == "POST";
    if (serve_changes(request, response, accounts_, store_)) return;
    if (path == "/ergebnisse/5.php") {
        if (!post) return answer(response, 405, "Method Not Allowed", "error: the file must be sent with POST");
        return upload(request, response);
    }
    if (post) return answer(response, 405, "Method Not Allowed", "error: POST goes to /ergebnisse/5.php only");
    if (live_routes_ && live_routes_(request, response)) return;
    if (path == "/ergebnisse/loeschen.php") return remove(request, response);
    if (path == "/ergebnisse/einfuegen.php") return insert(request, response);
    if (path == "/ergebnisse/anzahl.php") return count(request, response);
    if (path == "/ergebnisse/" || path == "/ergebnisse/index.php") return overview(request, response);
    if (path == "/ergebnisse/tabelle.php") return table(request, response);
    if (path == "/" || path == "/index.html") return html(response, index_page(accounts_));
    answer(response, 404, "Not Found", "error: no such address");
}

const Account* SiteHandler::account_of(const Request& request, Response& response) {
    const std::optional<std::string> id = query_value(request.query, "id");
    const Account* account = id ? accounts_.find(*id) : nullptr;
    if (!account) answer(response, 404, "Not Found", "error: unknown account");
    return account;
}

void SiteHandler::remove(const Request& request, Response& response) {
    // The upload reads only this body, so a refusal keeps status 200.
    const std::optional<std::string> id = query_value(request.query, "id");
    const Account* account = id ? accounts_.find(*id) : nullptr;
    if (!account) return answer(response, 200, "OK", "error: unknown account");
    if (!password_ok(*account, request)) return answer(response, 200, "OK", "error: wrong password");
    store_.delete_all(account->id);
    answer(response, 200, "OK", "0");
}

void SiteHandler::upload(const Request& request, Response& response) {
    const Account* account = account_of(request, response);
    if (!account) return;
    std::vector<FormPart> parts;
    try {
        parts = parse_multipart(request.body, form_boundary(request.content_type));
    } catch (const MultipartError& e) {
        return answer(response, 400, "Bad Request", std::string("error: ") + e.what());
    }
    const FormPart* was = find_part(parts, "was");
    if (!was || was->data != "doit") return answer(response, 400, "Bad Request", "error: the field \"was\" must be \"doit\"");
    const FormPart* file = find_part(parts, "bild");
    if (!file || !file->filename) return answer(response, 400, "Bad Request", "error: the form has no file \"bild\"");
    if (!looks_like_gzip(file->data))
        return answer(response, 400, "Bad Request", "error: the file is not gzip-compressed");
    store_.store_upload(account->id, file->data);
    answer(response, 200, "OK", "OK " + std::to_string(file->data.size()) + " bytes received");
}

void SiteHandler::insert(const Request& request, Response& response) {
    const Account* account = account_of(request, response);
    if (!account) return;
    if (!password_ok(*account, request)) return answer(response, 403, "Forbidden", "error: wrong password");
    std::map<std::string, std::int64_t> added;
    try {
        added = store_.load_upload(account->id);
    } catch (const NoUploadError& e) {
        return answer(response, 409, "Conflict", std::string("error: ") + e.what());
    } catch (const GzipError& e) {
        return answer(response, 422, "Unprocessable Entity", std::string("error: ") + e.what() + "; nothing loaded");
    } catch (const DumpError& e) {
        return answer(response, 422, "Unprocessable Entity", std::string("error: ") + e.what() + "; nothing loaded");
    }
    std::string text = "OK";
    for (const auto& [table, rows] : added) text += " " + table + "=" + std::to_string(rows);
    answer(response, 200, "OK", text);
}

void SiteHandler::count(const Request& request, Response& response) {
    const Account* account = account_of(request, response);
    if (!account) return;
    const std::string table = query_value(request.query, "tabelle").value_or("");
    const std::optional<std::int64_t> n = store_.count(account->id, table);
    if (!n) return answer(response, 404, "Not Found", "error: unknown table");
    answer(response, 200, "OK", std::to_string(*n));
}

void SiteHandler::overview(const Request& request, Response& response) {
    const Account* account = account_of(request, response);
    if (!account) return;
    html(response, account_page(*account, store_));
}

void SiteHandler::table(const Request& request, Response& response) {
    const Account* account = account_of(request, response);
    if (!account) return;
    const TableDef* def = table_by_name(query_value(request.query, "tabelle").value_or(""));
    if (!def) return answer(response, 404, "Not Found", "error: unknown table");
    html(response, table_page(*account, store_, *def));
}

}  // namespace ringolan::site
