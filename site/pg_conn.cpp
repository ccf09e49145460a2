#include "site/pg_conn.h"

#include <poll.h>

#include <charconv>

namespace ringolan::site::pg {

namespace {

// libpq's message without its line end and without the password of `uri`, should it appear.
std::string clean_message(std::string msg, const std::string& uri = {}) {
    while (!msg.empty() && (msg.back() == '\n' || msg.back() == ' ')) msg.pop_back();
    if (uri.empty()) return msg;
    if (PQconninfoOption* opts = PQconninfoParse(uri.c_str(), nullptr)) {
        for (PQconninfoOption* o = opts; o->keyword; ++o) {
            if (std::string_view(o->keyword) != "password" || !o->val || !*o->val) continue;
            const std::string pw = o->val;
            for (std::size_t at; (at = msg.find(pw)) != std::string::npos;) msg.replace(at, pw.size(), "***");
        }
        PQconninfoFree(opts);
    }
    return msg;
}

}  // namespace

std::int64_t Result::integer(int row, int col) const {
    const std::string_view t = text(row, col);
    std::int64_t v = 0;
    std::from_chars(t.data(), t.data() + t.size(), v);
    return v;
}

ConnHandle connect(const std::string& uri) {
    const char* keys[] = {"dbname", "client_encoding", nullptr};
    const char* values[] = {uri.c_str(), "UTF8", nullptr};
    ConnHandle c(PQconnectdbParams(keys, values, 1));
    if (!c) throw StoreError("PostgreSQL: out of memory");
    if (PQstatus(c.get()) != CONNECTION_OK)
        throw StoreError("PostgreSQL: cannot connect: " + clean_message(PQerrorMessage(c.get()), uri));
    PQsetNoticeProcessor(c.get(), [](void*, const char*) {}, nullptr);  // notices are not errors
    return c;
}

Result exec(PGconn* c, const std::string& sql, const std::vector<Param>& params, bool binary_result) {
    std::vector<const char*> values;
    std::vector<int> lengths, formats;
    for (const Param& p : params) {
        values.push_back(p.text ? p.text->data() : nullptr);
        lengths.push_back(p.text ? int(p.text->size()) : 0);
        formats.push_back(p.binary ? 1 : 0);
    }
    // Text parameters must end in a NUL: copy those that are views into larger text.
    std::vector<std::string> owned;
    owned.reserve(params.size());
    for (std::size_t i = 0; i < params.size(); ++i)
        if (params[i].text && !params[i].binary) values[i] = owned.emplace_back(*params[i].text).c_str();
    Result r(PQexecParams(c, sql.c_str(), int(params.size()), nullptr, values.data(), lengths.data(), formats.data(),
                          binary_result ? 1 : 0));
    const ExecStatusType status = PQresultStatus(r.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw StoreError("PostgreSQL: " + clean_message(r.get() ? PQresultErrorMessage(r.get()) : PQerrorMessage(c)));
    return r;
}

std::string error_text(PGconn* c, std::string_view what) {
    return "PostgreSQL: " + std::string(what) + clean_message(PQerrorMessage(c));
}

namespace {

// False for an idle connection the server has closed (restarted, or the session was ended).
bool still_open(PGconn* c) {
    pollfd p{PQsocket(c), POLLIN, 0};
    if (::poll(&p, 1, 0) == 0) return true;  // nothing arrived: the usual case
    return PQconsumeInput(c) == 1 && PQstatus(c) == CONNECTION_OK;
}

}  // namespace

Pool::Lease Pool::take() {
    for (;;) {
        ConnHandle c;
        {
            std::lock_guard guard(mutex_);
            if (idle_.empty()) break;
            c = std::move(idle_.back());
            idle_.pop_back();
        }
        if (still_open(c.get())) return Lease(*this, std::move(c));
    }
    return Lease(*this, connect(uri_));
}

void Pool::drop_idle() {
    std::lock_guard guard(mutex_);
    idle_.clear();
}

void Pool::give_back(ConnHandle c) {
    if (!c || PQstatus(c.get()) != CONNECTION_OK || PQtransactionStatus(c.get()) != PQTRANS_IDLE) return;
    std::lock_guard guard(mutex_);
    if (idle_.size() < keep_) idle_.push_back(std::move(c));
}

Transaction::Transaction(PGconn* c, const char* begin) : c_(c) { exec(c, begin); }

Transaction::~Transaction() {
    if (!done_) PQclear(PQexec(c_, "ROLLBACK"));
}

void Transaction::commit() {
    done_ = true;
    exec(c_, "COMMIT");
}

}  // namespace ringolan::site::pg
