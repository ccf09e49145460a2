#include "api/json_values.h"

#include <algorithm>

#include "common/ascii.h"
#include "common/cp1252.h"
#include "common/number.h"
#include "db/snapshot/read_recorder.h"

namespace ringolan::api {

Json answer_object(const db::Snapshot& snapshot) {
    Json body = Json::object();
    body["state"] = snapshot.info().generation;
    return body;
}

Answer json_answer(const Json& body, int status) {
    // All text is converted from Windows-1252, so replacing bad UTF-8 never happens in practice.
    return {status, body.dump(-1, ' ', false, Json::error_handler_t::replace)};
}

Answer error_answer(int status, std::string_view message) {
    Json body = Json::object();
    body["error"] = std::string(message);
    return json_answer(body, status);
}

Json utf8(std::string_view cp1252) { return text::cp1252_to_utf8(cp1252); }

Json text_or_null(const db::Field& field) {
    if (field.is_null()) return nullptr;
    return utf8(field.as_text());
}

Json number_or_null(const db::Field& field) {
    if (field.is_null()) return nullptr;
    const db::FieldType type = field.type();
    if (type == db::FieldType::Integer || type == db::FieldType::Boolean) return field.as_int();
    if (type != db::FieldType::Text && type != db::FieldType::Memo) return field.as_real();
    try {
        return field.as_real();
    } catch (const db::QueryError&) {
        return nullptr;  // text that spells no number
    }
}

bool yes(const db::Field& field) { return !field.is_null() && field.as_int() != 0; }

Json shown_number(const std::string& page_text) {
    std::string decimal = page_text;
    std::replace(decimal.begin(), decimal.end(), ',', '.');
    try {
        return std::stod(decimal);
    } catch (const std::exception&) {
        return nullptr;  // "NAN", "INF"
    }
}

std::optional<int64_t> parse_id(std::string_view segment) {
    if (segment.empty() || segment.front() == '+' || segment.front() == '-') return std::nullopt;
    return text::parse_number<int64_t>(segment);
}

bool has_table(const db::Snapshot& snapshot, std::string_view name) {
    db::ReadRecorder::note_table(name);  // the answer differs when the table comes or goes
    const auto& tables = snapshot.info().tables;
    return std::any_of(tables.begin(), tables.end(),
                       [&](const std::string& t) { return text::equal_ignoring_case(t, name); });
}

bool has_field(const db::Query& query, std::string_view name) {
    for (size_t i = 0; i < query.field_count(); ++i)
        if (text::equal_ignoring_case(query.field(i).name(), name)) return true;
    return false;
}

}  // namespace ringolan::api
