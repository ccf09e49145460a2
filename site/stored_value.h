// How a statement line's value is stored, shared by the stores: empty text and NULL become NULL,
// Windows-1252 text becomes UTF-8, a number becomes a whole number or a real; and the text
// SQLite gives for a stored value.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "site/statement_parser.h"
#include "site/store.h"

namespace ringolan::site {

// A value as stored, in text: the UTF-8 text, or a number's shortest digits that read back to
// the same whole number or real. Views `room` or the value's own text.
struct ValueText {
    StoredValue::Kind kind = StoredValue::Kind::null;
    std::string_view text;
};

ValueText value_text(const ValueView& v, std::string& room);

// The UTF-8 text kept for a non-empty text value: unescaped and converted from Windows-1252.
// Views `room` or the value's own text.
std::string_view stored_text(const ValueView& v, std::string& room);

// A number's digits as kept: a whole number when they read as one, else a real.
StoredValue stored_number(std::string_view digits);

// The value kept for a value of a statement line.
StoredValue stored_value(const ValueView& v);

// The value as a statement line's view (text unescaped).
inline ValueView view_of(const Value& v) { return {v.kind, v.text, false}; }

// The typed value of a ValueText.
StoredValue typed_value(const ValueText& v);

// SQLite's text of a value; nullopt for NULL. Reals read as "%!.15g" ("9.8", "12345.0", "1.0e+20").
std::optional<std::string> sqlite_text(const StoredValue& v);

}  // namespace ringolan::site
