// Disciplines, results and targets: every shot is drawn as a hit position around the
// shooter's mean point of impact and stored as distance (Teiler), direction and ring value.
#include <algorithm>
#include <cmath>
#include <cstring>

#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {

const char* sort_text(Sort s) {
    switch (s) {
        case Sort::RingBlattl: return "ring/blattl";
        case Sort::BlattlRing: return "blattl/ring";
        case Sort::Ring: return "ring";
        case Sort::RingSerie: return "ring/serie";
        case Sort::Teiler: return "teiler";
        case Sort::Unnamed: return nullptr;
    }
    return nullptr;
}

bool sort_by_teiler(Sort s) { return s == Sort::BlattlRing || s == Sort::Teiler; }

// Ordered so that the smallest demo (the first six) has an air pistol face, "Blattl", "Ring",
// other and NULL Teilermessung, and every ranking rule.
const std::vector<DisciplineSpec>& discipline_catalog() {
    static const std::vector<DisciplineSpec> c{
        {"Luftgewehr 40 Schuss", "Luftgewehr", "Zehntel", 4, 10, 4, true, Face::Rifle, 1.0, Sort::RingBlattl, "R", "LG"},
        {"Luftpistole 40 Schuss", "Luftpistole", "Ring", 4, 10, 4, false, Face::Pistol, 1.0, Sort::Ring, "R", "LP"},
        {"Königsscheibe", "Luftgewehr", "Blattl", 0, 3, 1, true, Face::Rifle, 1.0, Sort::BlattlRing, "T", "*"},
        {"Luftgewehr Auflage 30 Schuss", "Luftgewehr", "Ring", 3, 15, 2, false, Face::Rifle, 0.6, Sort::RingSerie, "R", "LG"},
        {"Luftpistole Auflage 30 Schuss", "Luftpistole", nullptr, 3, 15, 2, true, Face::Pistol, 0.6, Sort::Unnamed, "R", "LP"},
        {"Glücksscheibe", "Luftgewehr", "blattl", 0, 5, 1, true, Face::Rifle, 1.0, Sort::Teiler, "T", "*"},
        {"Zimmerstutzen 30 Schuss", "Zimmerstutzen", "Ring", 3, 10, 3, false, Face::Rifle, 1.1, Sort::Ring, "R", "KK"},
        {"KK 50m liegend 30 Schuss", "KK 50m", "Zehntel", 3, 10, 3, true, Face::Rifle, 0.9, Sort::RingBlattl, "R", "KK"},
        {"Lichtpunkt 20 Schuss", "Lichtpunkt", nullptr, 2, 10, 2, false, Face::Rifle, 1.2, Sort::Unnamed, "Pkt", "LICHT"},
        {"Armbrust 10m 30 Schuss", "Armbrust", "Zehntel", 3, 10, 3, true, Face::Rifle, 0.9, Sort::RingBlattl, "R", "AB"},
        {"Luftpistole Blattl", "Luftpistole", "Blattl", 0, 3, 1, true, Face::Pistol, 1.0, Sort::BlattlRing, "T", "LP"},
        {"Luftgewehr 60 Schuss", "Luftgewehr", "Zehntel", 6, 15, 4, true, Face::Rifle, 1.0, Sort::RingBlattl, "R", "LG"},
        {"Luftgewehr 20 Schuss Jugend", "Luftgewehr", "Zehntel", 2, 10, 2, true, Face::Rifle, 1.0, Sort::RingSerie, "R", "LG"},
        {"Luftpistole 20 Schuss", "Luftpistole", "Zehntel", 2, 10, 2, true, Face::Pistol, 1.0, Sort::RingBlattl, "R", "LP"},
        {"Wanderpokal", "Luftgewehr", "Blattl", 0, 1, 1, true, Face::Rifle, 1.0, Sort::BlattlRing, "T", "*"},
    };
    return c;
}

int32_t Target::sum10() const {
    int32_t s = 0;
    for (int i = 0; i < shots; ++i) s += score10[i];
    return s;
}

void store_hit(const DisciplineSpec& d, double x, double y, Target& tg, int i) {
    const double dist = std::sqrt(x * x + y * y);
    tg.t[i] = static_cast<int32_t>(std::max<long long>(1, std::llround(dist)));
    tg.w[i] = static_cast<int16_t>(std::llround(turns_from_top(x, y) * 32768) % 32768);
    const int tenths = tenths_for_distance(tg.t[i], d.face);
    tg.score10[i] = static_cast<int16_t>(d.tenths ? tenths : tenths / 10 * 10);
}

void aggregate_cards(Face face, std::span<const Target* const> cards, Result& r) {
    r.total10 = 0;
    r.best_t = r.second_t = 0;
    r.teiler_sum = 0;
    r.inner = r.hits = 0;
    r.series10.fill(0);
    for (size_t k = 0; k < cards.size(); ++k) {
        const Target& tg = *cards[k];
        const int32_t sum = tg.sum10();
        r.total10 += sum;
        if (k < kMaxSeries) r.series10[k] = sum;
        for (int i = 0; i < tg.shots; ++i) {
            const int32_t t = tg.t[i];
            ++r.hits;
            r.teiler_sum += t;
            if (tenths_for_distance(t, face) >= 104) ++r.inner;
            if (r.best_t == 0 || t < r.best_t) {
                r.second_t = r.best_t;
                r.best_t = t;
            } else if (r.second_t == 0 || t < r.second_t) {
                r.second_t = t;
            }
        }
    }
}

void update_aggregates(const Model& m, Result& r) {
    std::array<const Target*, 256> cards;
    for (int k = 0; k < r.targets; ++k) cards[k] = &m.targets[r.first_target + k];
    aggregate_cards(m.disciplines[r.disc]->face, std::span(cards.data(), r.targets), r);
}

namespace {

bool weapon_matches(const Shooter& s, const char* weapon) {
    const int w = s.waffe;  // 0 LG, 1 LP, 2 LG/LP, 3 KK, 4 Armbrust, -1 NULL
    if (!std::strcmp(weapon, "LG")) return w == 0 || w == 2 || (w == -1 && s.klasse != 6);
    if (!std::strcmp(weapon, "LP")) return w == 1 || w == 2;
    if (!std::strcmp(weapon, "KK")) return w == 3;
    if (!std::strcmp(weapon, "AB")) return w == 4;
    if (!std::strcmp(weapon, "LICHT")) return w == -1 && s.klasse == 6;
    return true;
}

// Preference of a shooter's class for a discipline as the main one.
double preference(const Shooter& s, const DisciplineSpec& d) {
    const bool young = s.klasse >= 4;
    const bool old = s.klasse == 2 || s.klasse == 3;
    if (std::strstr(d.name, "Jugend")) return young ? 3.0 : 0.0;
    if (d.spread < 1.0) return old ? 3.0 : 0.3;
    return 1.0;
}

void shoot(Rng& rng, const Shooter& s, const DisciplineSpec& d, Target& tg) {
    // Group size: a top shooter keeps most shots in the 10 (rifle) or 9 (pistol).
    const double factor = d.face == Face::Pistol ? 2.75 - 2.07 * s.skill : 1.96 - 1.52 * s.skill;
    const double sigma = factor * d.spread * ring_width(d.face) * (0.9 + 0.2 * rng.unit());
    const double ox = 0.35 * sigma * rng.normal(), oy = 0.35 * sigma * rng.normal();
    for (int i = 0; i < tg.shots; ++i) {
        const double x = ox + sigma * rng.normal(), y = oy + sigma * rng.normal();
        store_hit(d, x, y, tg, i);
    }
}

// The disciplines a shooter takes: one ring discipline drawn by preference (the first when
// none suits), and now and then another one the shooter's weapon allows.
std::vector<bool> disciplines_taken(const Model& m, Rng& rng, const Shooter& s) {
    const int n_disc = static_cast<int>(m.disciplines.size());
    std::vector<bool> takes(n_disc, false);
    std::vector<double> weights;
    double acc = 0;
    for (int d = 0; d < n_disc; ++d) {
        const auto& discipline = *m.disciplines[d];
        const bool ring_kind = !sort_by_teiler(discipline.sort) && std::strcmp(discipline.weapon, "*");
        acc += ring_kind && weapon_matches(s, discipline.weapon) ? preference(s, discipline) : 0.0;
        weights.push_back(acc);
    }
    if (acc > 0) {
        const double x = rng.unit() * acc;
        takes[std::upper_bound(weights.begin(), weights.end(), x) - weights.begin()] = true;
    } else {
        takes[0] = true;
    }
    for (int d = 0; d < n_disc; ++d) {
        const auto& discipline = *m.disciplines[d];
        if (takes[d] || !weapon_matches(s, discipline.weapon)) continue;
        if (sort_by_teiler(discipline.sort))
            takes[d] = rng.chance(d == 2 ? 0.4 : 0.25);
        else if (preference(s, discipline) > 0)
            takes[d] = rng.chance(0.15);
    }
    return takes;
}

// Appends the cards of one result, shot by the shooter; the last card may hold fewer shots or
// none. A later round shoots each card again from `again`.
void shoot_cards(Model& m, Rng& rng, Rng& again, const Shooter& s, const DisciplineSpec& discipline, int cards,
                 bool forced_empty) {
    const bool blattl = sort_by_teiler(discipline.sort);
    for (int k = 0; k < cards; ++k) {
        Target tg{};
        tg.id = static_cast<int32_t>(m.targets.size()) + 1;
        tg.unused_null = rng.chance(0.5);
        int shots = discipline.shots_per_target;
        if (k + 1 == cards) {
            if (forced_empty || rng.chance(0.01)) shots = 0;
            else if (shots > 1 && rng.chance(blattl ? 0.1 : 0.04)) shots = rng.range(1, shots - 1);
        }
        tg.shots = static_cast<uint8_t>(shots);
        shoot(rng, s, discipline, tg);
        if (m.options.round != 0) shoot(again, s, discipline, tg);
        m.targets.push_back(tg);
    }
}

// One result of shooter si in discipline d with its cards. blattl_results counts the Blattl
// results of the discipline: the fifth gets one unshot card.
void add_result(Model& m, Rng& rng, Rng& again, int32_t si, int d, int stands, int32_t erg_id, int& blattl_results) {
    const auto& discipline = *m.disciplines[d];
    const bool blattl = sort_by_teiler(discipline.sort);
    Result r{};
    r.erg_id = erg_id;
    r.shooter = si;
    r.disc = static_cast<int16_t>(d);
    r.stand = static_cast<uint8_t>(rng.range(1, stands));
    r.start_second = 8 * 3600 + static_cast<int32_t>(rng.below(10 * 3600));
    r.first_target = static_cast<int32_t>(m.targets.size());

    int cards = discipline.targets;
    if (blattl) {  // more cards bought
        if (rng.chance(0.2)) ++cards;
        if (rng.chance(0.05)) ++cards;
    }
    if (rng.chance(0.01)) cards = 0;  // entered, did not turn up
    else if (!blattl && discipline.targets > 1 && rng.chance(0.03)) cards = rng.range(1, discipline.targets - 1);
    const bool forced_empty = blattl && ++blattl_results == 5;
    if (forced_empty) cards = 1;
    r.targets = static_cast<uint8_t>(cards);

    shoot_cards(m, rng, again, m.shooters[si], discipline, cards, forced_empty);
    update_aggregates(m, r);
    m.results.push_back(r);
}

}  // namespace

void make_shots(Model& m) {
    Rng rng(m.options.seed, 2);
    // A later round shoots every card again from its own stream; the first stream is drawn from
    // as in round 0, so that who shoots what, where and how many shots stays the same.
    Rng again(m.options.seed ^ (0x9E3779B97F4A7C15ULL * m.options.round), 6);
    const auto& catalog = discipline_catalog();
    const int n_disc = std::clamp(6 + m.options.shooters / 4000, 6, static_cast<int>(catalog.size()));
    for (int i = 0; i < n_disc; ++i) m.disciplines.push_back(&catalog[i]);

    const int stands = std::clamp(10 + m.options.shooters / 1000, 10, 60);
    std::vector<int> blattl_results(n_disc, 0);
    m.results.reserve(m.shooters.size() * 2);
    m.targets.reserve(m.shooters.size() * 5);
    int32_t erg_id = 0;
    for (int32_t si = 0; si < static_cast<int32_t>(m.shooters.size()); ++si) {
        if (rng.chance(0.08)) continue;  // registered, never shot
        const std::vector<bool> takes = disciplines_taken(m, rng, m.shooters[si]);
        for (int d = 0; d < n_disc; ++d)
            if (takes[d]) add_result(m, rng, again, si, d, stands, ++erg_id, blattl_results[d]);
    }
}

}  // namespace ringolan::demo
