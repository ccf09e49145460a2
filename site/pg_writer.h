// Changes to one account's rows inside a transaction that holds the account's lock: inserts
// go through COPY, widening tables as rows bring more values; deletes and clears run between.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "site/pg_conn.h"
#include "site/pg_copy.h"
#include "site/pg_rows.h"
#include "site/statement_parser.h"
#include "site/tables.h"

namespace ringolan::site::pg {

class AccountWriter {
public:
    // Reads the account's tables; `next_seq` is the account's next row sequence.
    AccountWriter(PGconn* c, std::string account, std::int64_t next_seq);
    // Writes rows that no account table holds yet: each table the rows name gets a table id of
    // its own (none of `site_tables`), sequences count from 1, and `finish` stores nothing;
    // `staged` then tells where the rows went.
    struct Staging {};
    AccountWriter(PGconn* c, std::string account, Staging);
    ~AccountWriter();  // abandons a COPY still running (the transaction is then rolled back)

    // Throws DumpError for an unknown table code.
    void insert(const StatementView& s);
    // Removes for each of `rows` one row equal to it as it would be stored, if there is one;
    // reads each table once (an index on the values would slow every load down by half).
    // False when a row is not held (the rest are then not looked for; roll the transaction back).
    bool remove(const std::vector<StatementView>& rows);
    // Removes every row of the table.
    void clear(std::string_view code, std::size_t line = 0);

    // Ends the inserts and stores widths and row counts. Returns the next row sequence.
    std::int64_t finish();
    // Rows inserted per table name.
    const std::map<std::string, std::int64_t>& added() const { return added_; }

    struct StagedTable {
        std::string_view name;
        std::int64_t id = 0;
        std::size_t width = 0;
        std::int64_t rows = 0;
    };
    // The tables written by a staging writer, after finish.
    std::vector<StagedTable> staged() const;

private:
    struct Table {
        std::int64_t id = 0;  // 0: not created
        std::size_t width = 0, stored_width = 0;
        std::int64_t rows_delta = 0;
    };
    const TableDef& def_of(std::string_view code, std::size_t line) const;
    Table& created(const TableDef& def);
    void end_copy();

    PGconn* c_;
    std::string account_;
    std::int64_t next_seq_;
    bool staging_ = false;
    std::map<std::string_view, Table> tables_;  // by name
    std::map<std::string, std::int64_t> added_;
    std::optional<CopyWriter> copy_;
    RowEncoder encoder_;
    // The code of the last row inserted and its table.
    std::string last_code_;
    Table* last_ = nullptr;
    std::int64_t* added_rows_ = nullptr;
};

}  // namespace ringolan::site::pg
