#include "api/targets.h"

#include <cmath>
#include <map>
#include <string>
#include <vector>

#include "common/regional.h"

namespace ringolan::api {

namespace {

// est.php
constexpr std::string_view kTargets =
    "SELECT scheiben.* , wettk.Bezeichnung, wettk.Teilermessung,scheiben.Sch_id,wettk.DP_ID FROM scheiben, "
    "wettk, ergebnis, zuordnung  WHERE Startnr = ? and wettk.DP_ID = ergebnis.DP_Id  and ergebnis.Erg_id = "
    "zuordnung.Erg_id  and scheiben.Sch_id = zuordnung.Scheiben_id  ORDER BY Bezeichnung,pos";
constexpr std::string_view kTargetTables[] = {"scheiben", "wettk", "ergebnis", "zuordnung"};

constexpr int kShots = 15;              // the shot fields both pages read: t1..t15, w1..w15
constexpr int64_t kNoTeiler = 1000000;  // est.php's start value of the best Teiler
constexpr long double kPi = 3.14159L;   // sb.php's constant, not pi

double hundredths(long double v) {
    const double r = static_cast<double>(std::nearbyintl(v * 100) / 100);
    return r == 0 ? 0.0 : r;  // no "-0"
}

// The target face of each discipline (DP_ID), chosen by Scheibentyp as sb.php does.
std::map<int64_t, std::string> faces(const db::Snapshot& snapshot) {
    std::map<int64_t, std::string> out;
    db::Query q;
    q.set_command("SELECT * FROM wettk");
    q.open(snapshot);
    if (!has_field(q, "DP_ID") || !has_field(q, "Scheibentyp")) return out;
    for (; !q.at_end(); q.next())
        out[q.field("DP_ID").as_int()] = q.field("Scheibentyp").as_text() == "Luftpistole" ? "air_pistol" : "air_rifle";
    return out;
}

std::string field_name(char prefix, int n) { return prefix + std::to_string(n); }

// The shot numbers whose t and w fields the file has, and whether it has their ring field R.
struct ShotFields {
    std::vector<int> numbers;
    std::vector<bool> ring;

    explicit ShotFields(const db::Query& q) {
        for (int n = 1; n <= kShots; ++n) {
            if (!has_field(q, field_name('t', n)) || !has_field(q, field_name('w', n))) continue;
            numbers.push_back(n);
            ring.push_back(has_field(q, field_name('R', n)));
        }
    }
};

// The ring total as est.php shows it; null where it shows "--" (Teiler-only targets).
Json ring_total(const db::Query& q, const std::string& measuring) {
    if (measuring == "Blattl" || q.field("summe").is_null()) return nullptr;
    return shown_number(regional::one_decimal(q.field("summe").as_real()));
}

// The best (lowest positive) of T1..T15 as est.php shows it; null where it shows "--"
// (ring-only targets) and for a target without a Teiler, which the page shows as 10000,0.
Json best_teiler(const db::Query& q, const ShotFields& fields, const std::string& measuring) {
    if (measuring == "Ring") return nullptr;
    int64_t best = kNoTeiler;
    for (int n : fields.numbers) {
        const int64_t t = q.field(field_name('T', n)).as_int();
        if (t > 0 && t < best) best = t;
    }
    if (best == kNoTeiler) return nullptr;
    return shown_number(regional::one_decimal_hundredths(best));
}

// The shots with a Teiler above 0, as sb.php takes them, and their mean point.
void add_shots(Json& target, const db::Query& q, const ShotFields& fields) {
    Json shots = Json::array();
    long double sum_x = 0, sum_y = 0;
    for (size_t i = 0; i < fields.numbers.size(); ++i) {
        const int n = fields.numbers[i];
        const std::string t_name = field_name('t', n), w_name = field_name('w', n);
        const double t = q.field(t_name).as_real();
        if (!(t > 0)) continue;
        const HitPosition p = hit_position_mm(t, q.field(w_name).as_real());
        sum_x += p.x;
        sum_y += p.y;
        Json shot = Json::object();
        shot["n"] = n;
        shot["ring"] = fields.ring[i] ? number_or_null(q.field(field_name('R', n))) : Json(nullptr);
        shot["teiler"] = t / 100;  // in est.php's unit, hundredths of a millimetre
        shot["x"] = hundredths(p.x);
        shot["y"] = hundredths(p.y);
        shots.push_back(std::move(shot));
    }
    Json mean = nullptr;
    if (shots.size() >= 2) {
        const long double count = static_cast<long double>(shots.size());
        mean = Json::object();
        mean["x"] = hundredths(sum_x / count);
        mean["y"] = hundredths(sum_y / count);
    }
    target["shots"] = std::move(shots);
    target["mean"] = std::move(mean);
}

}  // namespace

HitPosition hit_position_mm(double t, double w) {
    const long double distance = static_cast<long double>(t) / 100 / 100;  // hundredths of a mm, then mm
    const long double angle_x = static_cast<long double>(w) / 32767 * 2 * kPi;
    const long double angle_y = static_cast<long double>(w) / 32768 * 2 * kPi;
    return {static_cast<double>(std::sin(angle_x) * distance), static_cast<double>(std::cos(angle_y) * distance)};
}

Json shooter_targets(const db::Snapshot& snapshot, int64_t startnr) {
    Json targets = Json::array();
    for (std::string_view table : kTargetTables)
        if (!has_table(snapshot, table)) return targets;
    const std::map<int64_t, std::string> face_of = faces(snapshot);
    db::Query q;
    q.set_command(kTargets);
    q.open(snapshot, {startnr});
    const ShotFields fields(q);
    for (; !q.at_end(); q.next()) {
        const std::string measuring = q.field("Teilermessung").as_text();
        const auto face = face_of.find(q.field("DP_ID").as_int());
        Json target = Json::object();
        target["id"] = number_or_null(q.field("scheiben.Sch_id"));
        target["discipline"] = text_or_null(q.field("Bezeichnung"));
        target["face"] = face == face_of.end() ? "air_rifle" : face->second;
        target["ring"] = ring_total(q, measuring);
        target["teiler"] = best_teiler(q, fields, measuring);
        add_shots(target, q, fields);
        targets.push_back(std::move(target));
    }
    return targets;
}

}  // namespace ringolan::api
