// Changes to rows of an existing data page that keep every other row's number.
#pragma once

#include <span>

#include "db/jet/page.h"

namespace ringolan::jet {

// True when a row of this length can be added below the lowest row of the page (and the rows
// are stored in row-number order, so the new row's end is where readers look for it).
bool room_for_row(const Page& page, size_t length);

// Adds a row as the page's next row number; false (page unchanged) when it does not fit.
bool append_row(Page& page, std::span<const uint8_t> row);

// Replaces row `row` by new bytes of any length: the rows stored below it move so that the
// space stays packed; row numbers and flags stay. False (page unchanged) when there is no room
// or the rows are not stored in row-number order. Throws LayoutError on a malformed page.
bool replace_row(Page& page, uint32_t row, std::span<const uint8_t> bytes);

}  // namespace ringolan::jet
