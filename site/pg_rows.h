// A row as PostgresStore keeps it: its values as a text[] without the trailing NULLs, and their
// kinds as text, one letter a value ('n' NULL, 'i' whole number, 'r' real, 't' text). Equal
// rows (a shorter row equals one with NULLs after it) have equal arrays and kinds.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "site/stored_value.h"

namespace ringolan::site::pg {

// The values of a row and their kinds, without the trailing NULLs.
struct RowText {
    std::string array;  // a text[] literal: {1,"a b",NULL}
    std::string kinds;
};

class RowEncoder {
public:
    // Appends the row (table id, sequence, values, kinds) as a line of COPY's text format.
    void copy_line(std::string& out, std::int64_t table_id, std::int64_t seq, const std::vector<ValueView>& values);
    // The row as parameters of a statement.
    RowText row_text(const std::vector<ValueView>& values);

private:
    std::vector<ValueText> texts_;
    std::vector<std::string> rooms_;
    std::size_t convert(const std::vector<ValueView>& values);  // the count without trailing NULLs
};

// The typed values of a stored row, padded with NULLs to `width`; throws StoreError when the
// text is not such a row.
std::vector<StoredValue> parse_row(std::string_view array, std::string_view kinds, std::size_t width);

}  // namespace ringolan::site::pg
