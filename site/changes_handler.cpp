#include "site/changes_handler.h"

#include "common/ascii.h"
#include "site/change_batch_json.h"
#include "site/credential_cache.h"
#include "site/gunzip.h"

namespace ringolan::site {

namespace {

using server::Request;
using server::Response;

constexpr std::string_view kPrefix = "/api/v1/accounts/";
constexpr std::string_view kSuffix = "/changes";

void set_status(Response& response, int status) {
    response.status_code = status;
    switch (status) {
        case 401: response.reason = "Unauthorized"; break;
        case 405: response.reason = "Method Not Allowed"; break;
        case 409: response.reason = "Conflict"; break;
        default: response.reason = std::string(server::reason_text(status));
    }
}

void text_answer(Response& response, int status, std::string text) {
    set_status(response, status);
    response.content_type = "text/plain; charset=utf-8";
    response.content = std::move(text) + "\n";
}

void json_answer(Response& response, int status, std::string json) {
    set_status(response, status);
    response.content_type = "application/json";
    response.content = std::move(json);
}

// The account named in the path whose credentials the request carries, or nullptr after 401.
const Account* authenticated(const Request& request, Response& response, const Accounts& accounts,
                             std::string_view id) {
    static CredentialCache cache;
    const Account* account = accounts.find(id);
    const server::Authorization& auth = request.authorization;
    if (account && auth.present && auth.user == account->id &&
        cache.verify(account->id, auth.password, account->password_hash))
        return account;
    text_answer(response, 401, "Anmeldung fehlgeschlagen (Konto oder Passwort falsch)");
    response.extra_headers = "WWW-Authenticate: Basic realm=\"ringolan\", charset=\"windows-1252\"\r\n";
    return nullptr;
}

// The request body, unpacked when sent with gzip; nullopt after answering.
std::optional<std::string> batch_body(const Request& request, Response& response) {
    if (request.body.size() > kMaxChangesBodyBytes) {
        text_answer(response, 413, "Die \xC3\x84nderungen sind zu gro\xC3\x9F");
        return std::nullopt;
    }
    const std::string encoding = text::ascii_lower(request.header("Content-Encoding").value_or(""));
    if (encoding.empty() || encoding == "identity") return request.body;
    if (encoding != "gzip") {
        text_answer(response, 400, "Unbekannte Kodierung \"" + encoding + "\"");
        return std::nullopt;
    }
    try {
        return gunzip(request.body, kMaxChangesUnpackedBytes);
    } catch (const GzipError& e) {
        text_answer(response, 400, std::string("Die \xC3\x84nderungen lassen sich nicht entpacken: ") + e.what());
        return std::nullopt;
    }
}

void apply(const Request& request, Response& response, SiteStore& store, const std::string& account) {
    const std::optional<std::string> body = batch_body(request, response);
    if (!body) return;
    ChangeResult result;
    try {
        result = store.apply_changes(account, parse_change_batch(*body));
    } catch (const BatchFormatError& e) {
        return text_answer(response, 400, e.what());
    } catch (const DumpError& e) {
        return text_answer(response, 400, std::string("Die \xC3\x84nderungen sind fehlerhaft: ") + e.what());
    }
    const int status = result.outcome == ChangeOutcome::conflict ? 409 : 200;
    json_answer(response, status, change_answer_json(outcome_name(result.outcome), result.state));
}

}  // namespace

bool serve_changes(const Request& request, Response& response, const Accounts& accounts, SiteStore& store) {
    const std::string& path = request.document_path;
    if (path.size() <= kPrefix.size() + kSuffix.size() || !text::ascii_lower(path).starts_with(kPrefix) ||
        !text::ascii_lower(path).ends_with(kSuffix))
        return false;
    const std::string id = path.substr(kPrefix.size(), path.size() - kPrefix.size() - kSuffix.size());
    if (request.command != "GET" && request.command != "POST") {
        text_answer(response, 405, "Nur GET und POST");
        response.extra_headers = "Allow: GET, POST\r\n";
        return true;
    }
    const Account* account = authenticated(request, response, accounts, id);
    if (!account) return true;
    if (request.command == "GET")
        json_answer(response, 200, change_answer_json("", store.live_state(account->id)));
    else
        apply(request, response, store, account->id);
    return true;
}

}  // namespace ringolan::site
