// The batches of live publishing: the difference between the statement lines the site last
// acknowledged and those of the newest snapshot, per table as multisets of lines, and the JSON
// body a batch is sent as (site/change_batch_json.h reads it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace ringolan::upload {

// One table's statement lines (Windows-1252, without line ends) in dump order.
struct TableLines {
    std::string code;
    std::vector<std::string> lines;
};
// Every table of a snapshot, in upload order.
using TablesDump = std::vector<TableLines>;

struct TableDiff {
    std::string code;
    bool replace = false;               // the site empties the table before the inserts
    std::vector<std::string> deletes;   // each removes one equal row
    std::vector<std::string> inserts;   // in dump order
};

// A table whose changed lines (deleted plus inserted) exceed this share of its rows is sent
// whole, as replace.
inline constexpr double kReplaceShare = 0.5;

// The tables of `after` that differ from `before`, with the lines to delete and insert; tables
// equal as multisets are left out. A table only in `before` is sent as an empty replace.
std::vector<TableDiff> diff_tables(const TablesDump& before, const TablesDump& after,
                                   double replace_share = kReplaceShare);

// Every table of `after` as replace (the batch that starts a stream).
std::vector<TableDiff> full_tables(const TablesDump& after);

struct OutgoingBatch {
    std::string stream;
    std::int64_t base = 0;
    std::int64_t sequence = 0;
    std::vector<TableDiff> tables;

    std::size_t deleted() const;   // lines deleted, replaced tables not counted
    std::size_t inserted() const;
};

// The batch as JSON with the lines in UTF-8.
std::string batch_json(const OutgoingBatch& batch);

// A new stream id: 32 random hexadecimal digits.
std::string new_stream_id();

}  // namespace ringolan::upload
