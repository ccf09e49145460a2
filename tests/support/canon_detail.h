// Formatting pieces shared by the read-back helpers (internal to ringolan_test_support).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "db/jet/value.h"

namespace ringolan::readback::detail {

std::string quote(std::string_view text);
// Four decimals: -123400 -> "-12.3400".
std::string format_currency(int64_t scaled);
// Exact decimal text ("-12.34", "7") to value x 10,000; false on bad text or overflow.
bool parse_currency(std::string_view text, int64_t& scaled);
// Seconds since 1899-12-30 00:00:00 as "YYYY-MM-DD HH:MM:SS".
std::string format_seconds(int64_t seconds);
std::string shortest(double v);
std::string shortest(float v);
// Text and memo columns, and every type the readers return as text.
bool is_text_like(jet::ColumnType type);

}  // namespace ringolan::readback::detail
