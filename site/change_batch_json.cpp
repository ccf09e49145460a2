#include "site/change_batch_json.h"

#include <nlohmann/json.hpp>

#include "common/cp1252.h"

namespace ringolan::site {

namespace {

using nlohmann::json;

const json& field(const json& object, const char* name, json::value_t type, bool required) {
    static const json absent;
    const auto it = object.find(name);
    if (it == object.end()) {
        if (required) throw BatchFormatError(std::string("Feld \"") + name + "\" fehlt");
        return absent;
    }
    const bool number = type == json::value_t::number_integer &&
                        (it->is_number_integer() || it->is_number_unsigned());
    if (!number && it->type() != type) throw BatchFormatError(std::string("Feld \"") + name + "\" hat den falschen Typ");
    return *it;
}

std::vector<Statement> statements(const json& entry, const char* name, const std::string& code) {
    std::vector<Statement> out;
    const json& lines = field(entry, name, json::value_t::array, false);
    if (lines.is_null()) return out;
    out.reserve(lines.size());
    for (const json& line : lines) {
        if (!line.is_string()) throw BatchFormatError(std::string("Eintrag in \"") + name + "\" ist kein Text");
        try {
            out.push_back(parse_statement(text::utf8_to_cp1252(line.get_ref<const std::string&>())));
        } catch (const DumpError& e) {
            throw BatchFormatError("Zeile in Tabelle \"" + code + "\" nicht lesbar: " + e.what());
        }
        out.back().line = out.size();
        if (out.back().code != code)
            throw BatchFormatError("Zeile der Tabelle \"" + out.back().code + "\" unter Tabelle \"" + code + "\"");
    }
    return out;
}

}  // namespace

ChangeBatch parse_change_batch(std::string_view text) {
    json doc;
    try {
        doc = json::parse(text);
    } catch (const json::exception&) {
        throw BatchFormatError("Die \xC3\x84nderungen sind kein g\xC3\xBCltiges JSON");
    }
    if (!doc.is_object()) throw BatchFormatError("Die \xC3\x84nderungen sind kein JSON-Objekt");
    ChangeBatch batch;
    batch.stream = field(doc, "stream", json::value_t::string, true).get<std::string>();
    batch.base = field(doc, "base", json::value_t::number_integer, true).get<std::int64_t>();
    batch.sequence = field(doc, "sequence", json::value_t::number_integer, true).get<std::int64_t>();
    if (batch.base < 0 || batch.sequence != batch.base + 1)
        throw BatchFormatError("\"sequence\" muss \"base\" + 1 sein");
    if (batch.stream.empty() || batch.stream.size() > 64 ||
        batch.stream.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz-") !=
            std::string::npos)
        throw BatchFormatError("\"stream\" muss aus 1 bis 64 Buchstaben, Ziffern oder \"-\" bestehen");
    for (const json& entry : field(doc, "tables", json::value_t::array, true)) {
        if (!entry.is_object()) throw BatchFormatError("Eintrag in \"tables\" ist kein Objekt");
        TableChange& change = batch.tables.emplace_back();
        change.code = field(entry, "code", json::value_t::string, true).get<std::string>();
        const json& replace = field(entry, "replace", json::value_t::boolean, false);
        change.replace = !replace.is_null() && replace.get<bool>();
        change.deletes = statements(entry, "deletes", change.code);
        change.inserts = statements(entry, "inserts", change.code);
    }
    return batch;
}

std::string change_answer_json(std::string_view outcome, const LiveState& state) {
    json doc = json::object();
    if (!outcome.empty()) doc["outcome"] = std::string(outcome);
    doc["stream"] = state.stream;
    doc["sequence"] = state.sequence;
    return doc.dump();
}

std::string_view outcome_name(ChangeOutcome outcome) {
    switch (outcome) {
        case ChangeOutcome::applied: return "applied";
        case ChangeOutcome::duplicate: return "duplicate";
        case ChangeOutcome::conflict: return "conflict";
    }
    return "conflict";
}

}  // namespace ringolan::site
