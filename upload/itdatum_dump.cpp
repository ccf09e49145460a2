#include "upload/itdatum_dump.h"

#include <algorithm>
#include <optional>
#include <stdexcept>
#include <vector>

#include "common/ascii.h"
#include "common/error.h"

namespace ringolan::upload {
namespace {

std::optional<size_t> column(const db::Query& q, std::string_view name) {
    for (size_t i = 0; i < q.field_count(); ++i)
        if (text::equal_ignoring_case(q.field(i).name(), name)) return i;
    return std::nullopt;
}

}  // namespace

size_t dump_with_itdatum(SqlDump& dump, std::ostream& out, std::string_view table_code, const std::string& text) {
    db::Query* q = dump.query;
    if (!q || !q->is_open()) throw Error("Die Optionen der Veranstaltung sind nicht geöffnet");
    const auto option = column(*q, "_option");
    const auto value = column(*q, "Wert_str");
    const auto id = column(*q, "ID");
    if (!option || !value) throw Error("Veranstaltung hat keine Spalten _option und Wert_str");

    std::vector<DumpType> types;
    for (size_t i = 0; i < q->field_count(); ++i) types.push_back(dump_type(q->field(i)));

    // The row to change, and the highest ID for a row to add.
    std::optional<size_t> target;
    int64_t max_id = 0;
    size_t row = 0;
    for (q->first(); !q->at_end(); q->next(), ++row) {
        if (!target && q->field(*option).as_text() == "itdatum") target = row;
        if (id && !q->field(*id).is_null()) max_id = std::max(max_id, q->field(*id).as_int());
    }

    size_t lines = 0;
    auto write_line = [&](auto value_of) {
        std::string line = "#*i";
        line.append(table_code).append("#*");
        for (size_t i = 0; i < types.size(); ++i) {
            if (types[i] == DumpType::Skipped) continue;
            line += value_of(i);
            line += ',';
        }
        line.pop_back();
        line.append(");\r\n");
        out.write(line.data(), static_cast<std::streamsize>(line.size()));
        if (!out)
            throw Error("Die Zeilen der Tabelle " + dump.table_name + " konnten nicht geschrieben werden");
        ++lines;
    };

    row = 0;
    for (q->first(); !q->at_end(); q->next(), ++row) {
        const bool changed = target && *target == row;
        write_line([&](size_t i) {
            if (changed && i == *value) return dump.value_text(types[i], text, 0.0);
            return dump.value_text(types[i], q->field(i));
        });
    }
    if (!target) {
        write_line([&](size_t i) {
            if (i == *option) return dump.value_text(types[i], "itdatum", 0.0);
            if (i == *value) return dump.value_text(types[i], text, 0.0);
            if (id && i == *id) return dump.value_text(types[i], std::to_string(max_id + 1), 0.0);
            return dump.value_text(types[i], "", 0.0);
        });
    }
    return lines;
}

}  // namespace ringolan::upload
