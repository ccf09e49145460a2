// Encodes one row of a table into the bytes of a data-page row.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "db/jet/layout.h"

namespace ringolan::jet {

// Receives the long-value rows of memo columns; returns the row pointer where each was stored.
class LongValueSink {
public:
    virtual ~LongValueSink() = default;
    virtual uint32_t store(uint16_t column_number, std::span<const uint8_t> row) = 0;
};

// A row whose values have been checked and converted; nothing is stored yet.
struct PreparedRow {
    std::vector<uint8_t> fixed;                  // the fixed area
    std::vector<std::vector<uint8_t>> variable;  // stored bytes per variable column (memo: the long value)
    std::vector<bool> present;                   // null-mask bits by column number
    size_t size = 0;                             // length of the finished row
};

// Checks every value against its column and converts it. Throws WriteError naming the column.
PreparedRow prepare_row(const TableLayout& layout, const Row& row);

// Stores long values through the sink (only now) and returns the finished row bytes.
std::vector<uint8_t> finish_row(const TableLayout& layout, PreparedRow&& prepared, LongValueSink& sink);

// Text as stored: UCS-2LE, or the compressed form when it starts with U+FEFF.
std::vector<uint8_t> encode_text(const std::u16string& text);

}  // namespace ringolan::jet
