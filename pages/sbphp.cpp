#include "pages/sbphp.h"

#include <cmath>
#include <stdexcept>

#include "db/query/query.h"
#include "db/snapshot/read_recorder.h"
#include "pages/params.h"

namespace ringolan::pages {

namespace {

constexpr TargetLayout kLayouts[2] = {
    {38, 150, 224, 228, 0.109f, 0.1103f, "scheibe_lgv.gif", "498", "501", "index.5.gif", "50", "50", "Kreuz.gif",
     "50", "50"},
    {38, 150, 243, 246, 0.0318f, 0.032f, "LPScheibeklein.png", "500", "503", "Index5lp.gif", "13", "13", "Kreuz.gif",
     "15", "15"},
};

constexpr std::string_view kTargetType = "SELECT * from wettk where DP_ID=?";
constexpr std::string_view kShooter =
    "SELECT starter.Startnr, starter.Nachname, starter.Vorname, verein.Name,verein.Vereinsnr FROM verein INNER JOIN "
    "starter ON verein.Vereinsnr = starter.Vereinsnr WHERE Startnr=?";
constexpr std::string_view kTarget = "SELECT * from scheiben WHERE Sch_id=?";

constexpr long double kPi = 3.14159L;  // the page's own constant, not pi

// Nearest integer, halves to even (the default rounding mode), kept to its low 32 bits.
int32_t round_to_int32(long double v) {
    const long double r = std::nearbyintl(v);
    if (!(std::fabs(r) < 9223372036854775808.0L))
        throw std::range_error("Trefferlage au\xDF" "erhalb des Zahlenbereichs");
    return static_cast<int32_t>(static_cast<int64_t>(r));
}

int32_t wrapping_add(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }

}  // namespace

const TargetLayout& target_layout(int row) { return kLayouts[row == 1 ? 1 : 0]; }

const TargetLayout& target_layout(std::string_view scheibentyp) {
    return target_layout(scheibentyp == "Luftpistole" ? 1 : 0);
}

MarkerPosition hit_position(const TargetLayout& layout, double t, double w) {
    const long double distance = static_cast<long double>(t) / 100;
    const long double angle_x = static_cast<long double>(w) / 32767 * 2 * kPi;
    const long double angle_y = static_cast<long double>(w) / 32768 * 2 * kPi;
    const long double x = std::sin(angle_x) * (distance * static_cast<long double>(layout.scale_x)) +
                          static_cast<long double>(layout.left + layout.offset_x);
    const long double y = static_cast<long double>(layout.top + layout.offset_y) -
                          std::cos(angle_y) * (distance * static_cast<long double>(layout.scale_y));
    return {round_to_int32(x), round_to_int32(y)};
}

MarkerPosition mean_position(int32_t sum_left, int32_t sum_top, int32_t count) {
    if (count < 1) throw std::invalid_argument("mean_position: count below 1");
    return {sum_left / count, sum_top / count};
}

namespace {

// The layout of the competition's target type.
const TargetLayout& competition_layout(const db::Snapshot& snapshot, int64_t competition) {
    db::Query a1;
    a1.set_command(kTargetType);
    a1.open(snapshot, {competition});
    return target_layout(a1.field("Scheibentyp").as_text());
}

// The shooter's name and club, linked to the club's page.
void append_heading(std::string& out, const db::Snapshot& snapshot, int64_t startnr) {
    db::Query a1;
    a1.set_command(kShooter);
    a1.open(snapshot, {startnr});
    const std::string display_name = a1.field("nachname").as_text() + ", " + a1.field("vorname").as_text();
    const std::string club_name = a1.field("name").as_text();
    const std::string club_nr = a1.field("Vereinsnr").as_text();
    out += "<font size=\"5\">";
    out += display_name;
    out += "<br>";
    out += "</font> <a href=\"vst.php?NR=";
    out += club_nr;
    out += "\">";
    out += club_name;
    out += "<br></a><hr>\r";
}

void append_target_picture(std::string& out, const TargetLayout& layout) {
    out += "<span style=\"position: absolute; left:";
    out += std::to_string(layout.left);
    out += "; top:";
    out += std::to_string(layout.top);
    out += "\"><img border=\"0\" src=\"";
    out += layout.picture;
    out += "\"";
    out += " width=\"";
    out += layout.picture_width;
    out += "\" height=\"";
    out += layout.picture_height;
    out += "\"></span>\r";
}

// A marker per hit of the target (t1..t15 above 0) and, for two hits or more, one at their mean.
void append_hits(std::string& out, const db::Snapshot& snapshot, const TargetLayout& layout, int64_t target) {
    db::Query a1;
    a1.set_command(kTarget);
    {
        const db::ReadRecorder::KeyedScope the_target("scheiben", "Sch_id", target);
        a1.open(snapshot, {target});
    }
    int32_t sum_left = 0, sum_top = 0, hits = 0;
    for (int i = 1; i <= 15; ++i) {
        const double t = a1.field("t" + std::to_string(i)).as_real();
        const double w = a1.field("w" + std::to_string(i)).as_real();
        if (!(t > 0)) continue;
        const MarkerPosition p = hit_position(layout, t, w);
        sum_left = wrapping_add(sum_left, p.left);
        sum_top = wrapping_add(sum_top, p.top);
        ++hits;
        out += "<span style=\"position: absolute; left: ";
        out += std::to_string(p.left);
        out += " ; top: ";
        out += std::to_string(p.top);
        out += " \"><img border=\"0\" src=\"";
        out += layout.hit_image;
        out += "\" width=\"";
        out += layout.hit_width;
        out += "\" height=\"";
        out += layout.hit_height;
        out += "\"></span>\r";
    }
    if (hits < 2) return;
    const MarkerPosition m = mean_position(sum_left, sum_top, hits);
    out += "<span style=\"position: absolute; left:";
    out += std::to_string(m.left);
    out += "; top: ";
    out += std::to_string(m.top);
    out += "\"><img border=\"0\" src=\"";
    out += layout.mean_image;
    out += "\"";
    out += "width=\"";
    out += layout.mean_width;
    out += "\" height=\"";
    out += layout.mean_height;
    out += "\"></span>\r";
}

}  // namespace

std::string sb_page(PageContext& ctx, std::string_view query) {
    const db::Snapshot& snapshot = page_snapshot(ctx);
    const int64_t competition = whole_number(cut_before_amp(value_after_key(query, "bz=", 2)), "Wettkampfnummer");
    const int64_t startnr = whole_number(cut_before_amp(value_after_key(query, "ST=", 2)), "Startnummer");
    const int64_t target = whole_number(value_after_key(query, "sid=", 3), "Scheibennummer");

    const TargetLayout& layout = competition_layout(snapshot, competition);
    std::string out;
    out.reserve(4096);
    append_heading(out, snapshot, startnr);
    append_target_picture(out, layout);
    append_hits(out, snapshot, layout, target);
    return out;
}

}  // namespace ringolan::pages
