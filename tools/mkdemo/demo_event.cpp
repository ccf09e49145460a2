// Event settings (Veranstaltung) and the order of the generation steps.
#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "common/calendar.h"
#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {

double civil_days(int year, int month, int day) {
    return static_cast<double>(calendar::day_number(year, unsigned(month), unsigned(day)));
}

namespace {

std::string date_text(const Model& m) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d.%02d.%04d", m.day, m.month, m.year);
    return buf;
}

}  // namespace

void make_event(Model& m) {
    Rng rng(m.options.seed, 4);
    auto add = [&](std::string option, std::optional<int32_t> i, std::optional<std::string> s,
                   std::optional<double> f, std::optional<std::string> bemerkung = std::nullopt) {
        m.event_options.push_back({static_cast<int32_t>(m.event_options.size()) + 1, std::move(option), i,
                                   std::move(s), f, std::move(bemerkung)});
    };
    const int stands = std::clamp(10 + m.options.shooters / 1000, 10, 60);
    add("Bezeichnung", std::nullopt, "Kreismeisterschaft Luftdruck " + std::to_string(m.year), std::nullopt);
    add("Veranstalter", std::nullopt, m.clubs[0].name, std::nullopt);
    add("Ort", std::nullopt, "Schützenhaus Oberndorf, Am Schießstand 3", std::nullopt);
    add("Datum", std::nullopt, date_text(m), std::nullopt);
    add("Staende", stands, std::nullopt, std::nullopt);
    if (m.options.itdatum) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%s %02d:%02d:%02d", date_text(m).c_str(), 19 + static_cast<int>(rng.below(3)),
                      static_cast<int>(rng.below(60)), static_cast<int>(rng.below(60)));
        add("itdatum", std::nullopt, std::string(buf), std::nullopt);
    }
    add("Startgeld", std::nullopt, std::nullopt, 8.5, "je Disziplin, Jugend frei");
    add("Schiesszeit", 50, std::nullopt, std::nullopt);
    add("Siegerehrung", std::nullopt, "18:30", std::nullopt,
        "Die Siegerehrung findet um 18:30 Uhr im großen Saal des Schützenhauses statt.\r\n"
        "Urkunden und Medaillen werden nur persönlich übergeben; bitte haltet eure Startkarte bereit.\r\n"
        "Für Speisen und Getränke sorgt der Festausschuss. Parkplätze gibt es hinter der Halle, "
        "der Weg ist ab der Ortsmitte ausgeschildert.\r\n"
        "Einsprüche gegen Ergebnisse sind bis 30 Minuten nach Aushang der vorläufigen Ergebnislisten "
        "bei der Wettkampfleitung schriftlich einzureichen (Gebühr 25 €).");
    add("Zehntelwertung", 1, std::nullopt, std::nullopt);
    add("Auswertung", std::nullopt, "elektronisch", 1.0, "");
}

std::string round_marker(uint32_t round) { return round == 0 ? std::string() : " ~R" + std::to_string(round) + "~"; }

void mark_round(Model& m) {
    const std::string marker = round_marker(m.options.round);
    if (marker.empty()) return;
    for (auto& c : m.clubs) c.name += marker;
    for (auto& t : m.teams) t.name += marker;
    for (auto& l : m.lists) l.titel += marker;
    for (auto& o : m.event_options)
        if (o.option == "Bezeichnung" && o.s) *o.s += marker;
    m.discipline_suffix = marker;
}

Model build_model(const DemoOptions& options) {
    if (options.shooters < 1) throw std::invalid_argument("the demo needs at least one shooter");
    Model m;
    m.options = options;
    // A Saturday in March or April 2024.
    static const int kDays[][2] = {{3, 2}, {3, 9}, {3, 16}, {3, 23}, {4, 6}, {4, 13}};
    Rng rng(options.seed, 0);
    const auto& d = kDays[rng.below(std::size(kDays))];
    m.year = 2024;
    m.month = d[0];
    m.day = d[1];
    m.event_day = civil_days(m.year, m.month, m.day);
    make_people(m);
    make_shots(m);
    make_lists(m);
    make_event(m);
    mark_round(m);
    return m;
}

}  // namespace ringolan::demo
