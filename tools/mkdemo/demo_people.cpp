// Clubs and shooters of the demo competition.
#include <algorithm>
#include <cstdio>
#include <set>
#include <stdexcept>

#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {
namespace {

constexpr const char* kGuestClubNr = "99999";

std::string club_name(const char* pattern, const char* town) {
    std::string s(pattern);
    const auto at = s.find('@');
    return s.substr(0, at) + town + s.substr(at + 1);
}

std::string club_nr(int value) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%05d", value);
    return buf;
}

// Picks an index from cumulative weights.
size_t pick_weighted(Rng& rng, const std::vector<double>& cumulative) {
    const double x = rng.unit() * cumulative.back();
    return static_cast<size_t>(std::upper_bound(cumulative.begin(), cumulative.end(), x) - cumulative.begin());
}

struct FixedShooter {
    const char* nachname;
    const char* vorname;  // nullptr: guest without first name
    int club;             // -1: guest club
    int klasse;
    int waffe;
    bool female;
};

// The first shooters are fixed so that even a small demo has shared surnames, umlauts, ß
// and surnames starting with Ä, Ö and Ü.
const FixedShooter kFixedShooters[] = {
    {"Müller", "Jürgen", 0, 2, 0, false},   {"Müller", "Lukas", 0, 4, 0, false},
    {"Müller", "Anna", 1, 1, 1, true},      {"Weiß", "Günter", 2, 3, 2, false},
    {"Özdemir", "Emre", 1, 0, 1, false},    {"Übelhör", "Käthe", 2, 1, 0, true},
    {"Äschlimann", "Björn", 3, 0, 0, false}, {"Schäfer", "Jörg", 3, 0, 1, false},
    {"Strauß", nullptr, -1, -1, -1, false}, {"Groß", "Sören", 0, -1, 0, false},
};

// Clubs: four fixed ones, then unique pattern/town combinations; the last regular club keeps
// no shooters; the guests' club closes the list. Returns the number of regular clubs (the
// guests' club's index).
int make_clubs(Model& m, Rng& rng) {
    const auto& nl = names();
    const int regular = std::clamp(m.options.shooters / 20, 5, 1200);
    const char* fixed[] = {"SV Tell Oberndorf", "Schützengilde Müllheim", "SG Hubertus Ödenwald",
                           "SV Edelweiß & Alpenrose Überlingen"};
    std::set<std::string> used;
    int number = 1200;
    for (int i = 0; i < regular; ++i) {
        std::string name;
        if (i < 4) {
            name = fixed[i];
        } else {
            do {
                const char* pattern = rng.pick(nl.club_patterns.data(), nl.club_patterns.size());
                name = club_name(pattern, rng.pick(nl.towns.data(), nl.towns.size()));
            } while (used.count(name));
        }
        used.insert(name);
        number += 1 + static_cast<int>(rng.below(9));
        m.clubs.push_back({club_nr(number), name});
    }
    m.clubs.push_back({kGuestClubNr, "Gastschützen"});
    return regular;
}

// Cumulative weights of all regular clubs but the last; the fixed clubs are large.
std::vector<double> club_weights(Rng& rng, int regular) {
    std::vector<double> weights;
    double acc = 0;
    for (int i = 0; i + 1 < regular; ++i) {
        const double u = rng.unit();
        acc += i < 4 ? 2.0 : 0.15 + 2.5 * u * u;
        weights.push_back(acc);
    }
    return weights;
}

void take_fixed(Shooter& s, const FixedShooter& f, int guest_club) {
    s.nachname = f.nachname;
    if (f.vorname) s.vorname = f.vorname;
    s.club = f.club < 0 ? guest_club : f.club;
    s.klasse = static_cast<int8_t>(f.klasse);
    s.waffe = static_cast<int8_t>(f.waffe);
    s.female = f.female;
}

// Class, weapon, club and names drawn at random; a shooter often shares the surname of the
// club's previous shooter. Guests have no class and no first name.
void draw_shooter(Shooter& s, Rng& rng, const std::vector<double>& club_weights, int guest_club,
                  const std::vector<std::string>& last_surname) {
    static const std::vector<double> class_weights{25, 40, 55, 70, 80, 88, 95, 100};  // last: NULL
    static const std::vector<double> weapon_weights{45, 65, 80, 88, 92, 100};         // last: NULL
    const auto& nl = names();
    const bool guest = rng.chance(0.015);
    int klasse = static_cast<int>(pick_weighted(rng, class_weights));
    if (klasse == 7 || guest) klasse = -1;
    s.klasse = static_cast<int8_t>(klasse);
    s.female = klasse == 1 || (klasse >= 4 ? rng.chance(0.4) : rng.chance(0.08));
    int waffe = static_cast<int>(pick_weighted(rng, weapon_weights));
    if (waffe == 5 || (klasse == 6 && rng.chance(0.6))) waffe = -1;
    s.waffe = static_cast<int8_t>(waffe);
    s.club = guest ? guest_club : static_cast<int32_t>(pick_weighted(rng, club_weights));
    const std::string& family = last_surname[s.club];
    if (!family.empty() && rng.chance(0.12))
        s.nachname = family;
    else
        s.nachname = rng.pick(nl.surnames.data(), nl.surnames.size());
    if (!guest)
        s.vorname = s.female ? rng.pick(nl.female.data(), nl.female.size()) : rng.pick(nl.male.data(), nl.male.size());
}

}  // namespace

void make_people(Model& m) {
    Rng rng(m.options.seed, 1);
    const int guest_club = make_clubs(m, rng);
    const std::vector<double> weights = club_weights(rng, guest_club);

    const double class_skill[] = {0.6, 0.6, 0.55, 0.45, 0.45, 0.6, 0.3, 0.4};
    std::vector<std::string> last_surname(m.clubs.size());
    int32_t startnr = 100;
    const int n = m.options.shooters;
    m.shooters.reserve(n);
    for (int i = 0; i < n; ++i) {
        startnr += 1 + (rng.chance(0.04) ? rng.range(1, 5) : 0);
        Shooter s{};
        s.startnr = startnr;
        if (i < static_cast<int>(std::size(kFixedShooters))) take_fixed(s, kFixedShooters[i], guest_club);
        else draw_shooter(s, rng, weights, guest_club, last_surname);
        last_surname[s.club] = s.nachname;
        const double mean = class_skill[s.klasse < 0 ? 7 : s.klasse];
        s.skill = static_cast<float>(std::clamp(mean + 0.18 * rng.normal(), 0.0, 1.0));
        m.shooters.push_back(std::move(s));
    }
}

}  // namespace ringolan::demo
