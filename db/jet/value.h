// Column types and cell values of Jet 4 tables as our writer and readers see them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace ringolan::jet {

// Type codes as stored in a table definition.
enum class ColumnType : uint8_t {
    Boolean = 0x01,
    Byte = 0x02,
    Integer = 0x03,   // 16-bit signed
    Long = 0x04,      // 32-bit signed
    Currency = 0x05,  // int64, value x 10,000
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,  // double, days since 1899-12-30
    Text = 0x0A,      // up to 255 characters
    Memo = 0x0C,
    Ole = 0x0B,       // long binary; the writer stores only NULL (catalog use)
};

struct Column {
    std::string name;  // UTF-8
    ColumnType type;
    int size = 0;      // text: maximum length in characters (1..255); ignored otherwise
};

struct Null {};
struct Currency {
    int64_t scaled;  // value x 10,000
    bool operator==(const Currency&) const = default;
};
struct DateTime {
    double days;     // days since 1899-12-30 plus the fraction of the day
    bool operator==(const DateTime&) const = default;
};
inline bool operator==(Null, Null) { return true; }

// std::string holds UTF-8 text.
using Value = std::variant<Null, bool, int64_t, double, Currency, DateTime, std::string>;
using Row = std::vector<Value>;

// Name of a type as used in JSON descriptions ("byte", "long", "text", ...).
std::string_view type_name(ColumnType t);
// Parses a type name; returns false when unknown.
bool parse_type_name(std::string_view name, ColumnType& out);

// Calendar date and time to days since 1899-12-30 (proleptic Gregorian).
DateTime make_datetime(int year, int month, int day, int hour = 0, int minute = 0, int second = 0);
// Parses "YYYY-MM-DD HH:MM:SS" or "YYYY-MM-DD"; returns false on malformed or impossible values.
bool parse_datetime(std::string_view text, DateTime& out);
// Formats as "YYYY-MM-DD HH:MM:SS" (seconds rounded to the nearest second).
std::string format_datetime(DateTime dt);

// Parses a decimal number text ("-12.3456", "7", "1e3" is rejected) exactly into a currency value.
// Returns false on malformed text, more than four decimals or overflow.
bool parse_currency(std::string_view text, Currency& out);
// Formats with exactly four decimals ("-12.3400").
std::string format_currency(Currency c);

}  // namespace ringolan::jet
