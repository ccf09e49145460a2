// Changes to the bytes of one stored row that keep its length: a fixed column set to a value
// or to NULL. (A variable column changes length: RowView::with_variable.)
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "db/jet/table_def.h"

namespace ringolan::jet {

// Double column c of the row set to v, or NULL (zero bytes, null bit cleared).
// Throws LayoutError when c is no Double column or lies beyond the row's fixed area.
void put_double(std::span<uint8_t> row, const DefColumn& c, std::optional<double> v);

// Byte, Integer or Long column c set to v (which must fit), or NULL.
void put_whole(std::span<uint8_t> row, const DefColumn& c, std::optional<int64_t> v);

// The row with text column c set to the text as the engine stores it, or to NULL.
// Throws LayoutError when the text is longer than the column allows.
std::vector<uint8_t> with_text(const TableDef& def, std::span<const uint8_t> row, const DefColumn& c,
                               const std::optional<std::u16string>& text);

}  // namespace ringolan::jet
