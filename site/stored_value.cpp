#include "site/stored_value.h"

#include "common/cp1252.h"

#include <sqlite3.h>

#include <charconv>

namespace ringolan::site {

namespace {

bool is_ascii(std::string_view t) {
    for (const char c : t)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

}  // namespace

std::string_view stored_text(const ValueView& v, std::string& room) {
    std::string_view text = v.text;
    if (v.escaped) text = room = v.decoded();
    if (!is_ascii(text)) text = room = text::cp1252_to_utf8(text);
    return text;
}

StoredValue stored_number(std::string_view digits) {
    const char* b = digits.data();
    const char* e = b + digits.size();
    if (b != e && *b == '+') ++b;
    StoredValue out;
    if (auto [p, ec] = std::from_chars(b, e, out.integer); ec == std::errc() && p == e) {
        out.kind = StoredValue::Kind::integer;
        return out;
    }
    out.integer = 0;
    out.kind = StoredValue::Kind::real;
    std::from_chars(b, e, out.real);
    return out;
}

ValueText value_text(const ValueView& v, std::string& room) {
    switch (v.kind) {
        case Value::Kind::null:
            return {};
        case Value::Kind::text:
            if (v.text.empty()) return {};
            return {StoredValue::Kind::text, stored_text(v, room)};
        case Value::Kind::number:
            break;
    }
    const StoredValue number = stored_number(v.text);
    char digits[32];
    const auto out = number.kind == StoredValue::Kind::integer
                         ? std::to_chars(digits, digits + sizeof digits, number.integer)
                         : std::to_chars(digits, digits + sizeof digits, number.real);
    room.assign(digits, out.ptr);
    return {number.kind, room};
}

StoredValue typed_value(const ValueText& v) {
    StoredValue out;
    out.kind = v.kind;
    const char* b = v.text.data();
    const char* e = b + v.text.size();
    switch (v.kind) {
        case StoredValue::Kind::null:
            break;
        case StoredValue::Kind::integer:
            std::from_chars(b, e, out.integer);
            break;
        case StoredValue::Kind::real:
            std::from_chars(b, e, out.real);
            break;
        case StoredValue::Kind::text:
            out.text = v.text;
            break;
    }
    return out;
}

StoredValue stored_value(const ValueView& v) {
    std::string room;
    return typed_value(value_text(v, room));
}

std::optional<std::string> sqlite_text(const StoredValue& v) {
    switch (v.kind) {
        case StoredValue::Kind::null:
            return std::nullopt;
        case StoredValue::Kind::integer:
            return std::to_string(v.integer);
        case StoredValue::Kind::text:
            return v.text;
        case StoredValue::Kind::real:
            break;
    }
    char* t = sqlite3_mprintf("%!.15g", v.real);
    if (!t) throw StoreError("out of memory");
    std::string out(t);
    sqlite3_free(t);
    return out;
}

}  // namespace ringolan::site
