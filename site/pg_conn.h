// A thin layer over libpq: owning handles, statements with text parameters, a COPY writer and a
// small pool of connections. Failures become StoreError with libpq's text (never the password).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/store.h"

namespace ringolan::site::pg {

struct ConnCloser {
    void operator()(PGconn* c) const { PQfinish(c); }
};
struct ResultClearer {
    void operator()(PGresult* r) const { PQclear(r); }
};
using ConnHandle = std::unique_ptr<PGconn, ConnCloser>;

// A finished statement's rows, read as text.
class Result {
public:
    explicit Result(PGresult* r) : r_(r) {}
    int rows() const { return PQntuples(r_.get()); }
    bool null(int row, int col) const { return PQgetisnull(r_.get(), row, col); }
    std::string_view text(int row, int col) const {
        return {PQgetvalue(r_.get(), row, col), std::size_t(PQgetlength(r_.get(), row, col))};
    }
    std::int64_t integer(int row, int col) const;
    PGresult* get() const { return r_.get(); }

private:
    std::unique_ptr<PGresult, ResultClearer> r_;
};

// A parameter: text, or NULL when absent; binary sends the bytes as they are (for bytea).
struct Param {
    std::optional<std::string_view> text;
    bool binary = false;
};

// Opens a connection to `uri` (UTF-8 client encoding); throws StoreError.
ConnHandle connect(const std::string& uri);

// Runs `sql` with parameters $1.. and returns its rows; throws StoreError on failure.
Result exec(PGconn* c, const std::string& sql, const std::vector<Param>& params = {}, bool binary_result = false);

// libpq's last error on c as StoreError text: "PostgreSQL: " what message.
std::string error_text(PGconn* c, std::string_view what);

// Connections to one database, kept for reuse. A connection returns to the pool only when it is
// healthy and outside a transaction.
class Pool {
public:
    explicit Pool(std::string uri, std::size_t keep = 8) : uri_(std::move(uri)), keep_(keep) {}

    class Lease {
    public:
        Lease(Pool& pool, ConnHandle c) : pool_(pool), c_(std::move(c)) {}
        Lease(Lease&&) = default;
        ~Lease() { pool_.give_back(std::move(c_)); }
        PGconn* get() const { return c_.get(); }

    private:
        Pool& pool_;
        ConnHandle c_;
    };

    Lease take();
    // Closes the idle connections: after one was found broken, the others likely are too.
    void drop_idle();
    const std::string& uri() const { return uri_; }

    // Runs fn(PGconn*) on a connection. When the connection breaks, runs it once more on a new
    // one: for the operations of a store that is safe, as each is one transaction and repeating
    // a committed one changes nothing (the file loaded is gone, the batch is a duplicate).
    template <class F>
    auto run(F&& fn) {
        for (int attempt = 0;; ++attempt) {
            Lease lease = take();
            try {
                return fn(lease.get());
            } catch (const StoreError&) {
                if (attempt > 0 || PQstatus(lease.get()) == CONNECTION_OK) throw;
                drop_idle();
            }
        }
    }

private:
    void give_back(ConnHandle c);
    std::string uri_;
    std::size_t keep_;
    std::mutex mutex_;
    std::vector<ConnHandle> idle_;
};

// Runs statements in one transaction: commits in commit(), rolls back when left without it.
class Transaction {
public:
    Transaction(PGconn* c, const char* begin = "BEGIN");
    ~Transaction();
    void commit();

private:
    PGconn* c_;
    bool done_ = false;
};

// The key of an account's advisory lock: two ints, the first naming this use of the lock.
inline constexpr int kAccountLockSpace = 0x52474c31;  // "RGL1"
inline constexpr int kSchemaLockSpace = 0x52474c30;   // "RGL0"

}  // namespace ringolan::site::pg
