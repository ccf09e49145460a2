// /state: the state number, when the file was read and the competition's key data from the
// key/value table Veranstaltung.
#include <ctime>

#include "api/json_values.h"
#include "api/resources.h"
#include "common/ascii.h"
#include "platform/calendar_time.h"

namespace ringolan::api {

namespace {

constexpr std::string_view kEventOptions = "SELECT * FROM Veranstaltung";

// The options shown, by JSON key.
constexpr std::pair<std::string_view, std::string_view> kCompetitionOptions[] = {
    {"name", "Bezeichnung"}, {"organizer", "Veranstalter"}, {"place", "Ort"}, {"date", "Datum"}};

std::string iso_utc(std::chrono::system_clock::time_point at) {
    const std::time_t seconds = std::chrono::system_clock::to_time_t(at);
    const std::tm utc = platform::utc_time(seconds);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buf;
}

// Every option null, then the text (Wert_str) of the first row of each option.
Json competition(const db::Snapshot& snapshot) {
    Json out = Json::object();
    for (const auto& [key, option] : kCompetitionOptions) out[key] = nullptr;
    if (!has_table(snapshot, "Veranstaltung")) return out;
    db::Query q;
    q.set_command(kEventOptions);
    q.open(snapshot);
    if (!has_field(q, "Option") || !has_field(q, "Wert_str")) return out;
    std::vector<bool> seen(std::size(kCompetitionOptions));
    for (; !q.at_end(); q.next()) {
        const std::string option = q.field("Option").as_text();
        for (size_t i = 0; i < std::size(kCompetitionOptions); ++i) {
            if (seen[i] || !text::equal_ignoring_case(option, kCompetitionOptions[i].second)) continue;
            seen[i] = true;
            out[kCompetitionOptions[i].first] = text_or_null(q.field("Wert_str"));
        }
    }
    return out;
}

}  // namespace

Answer state_resource(const db::Snapshot& snapshot) {
    Json body = answer_object(snapshot);
    body["read"] = iso_utc(snapshot.info().read_at);
    body["competition"] = competition(snapshot);
    return json_answer(body);
}

}  // namespace ringolan::api
