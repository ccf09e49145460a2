// sb.php: marker geometry without a database, then whole pages on small files, typed from the
// page's pieces, and parameter handling.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <stdexcept>
#include <string>

#include "db/query/query.h"
#include "pages/params.h"
#include "pages/sbphp.h"
#include "server/dispatcher.h"
#include "tests/pages/competition_fixture.h"
#include "tests/server/page_literals.h"

namespace {

using namespace ringolan::test_pages;
using ringolan::pages::hit_position;
using ringolan::pages::InputError;
using ringolan::pages::mean_position;
using ringolan::pages::target_layout;
using ringolan::server::DispatchPage;
using V = ringolan::jet::Value;

// ---- geometry ----

TEST(SbGeometry, WorkedPositions) {
    const auto& rifle = target_layout(0);
    const auto& pistol = target_layout(1);
    auto p = hit_position(rifle, 1000, 0);  // straight up: 378 - 1.103
    EXPECT_EQ(p.left, 262);
    EXPECT_EQ(p.top, 377);
    p = hit_position(rifle, 2000, 8192);  // a quarter turn: 262 + 2.18, 378
    EXPECT_EQ(p.left, 264);
    EXPECT_EQ(p.top, 378);
    p = hit_position(pistol, 10000, 24576);  // three quarters: 281 - 3.18, 396
    EXPECT_EQ(p.left, 278);
    EXPECT_EQ(p.top, 396);
    p = hit_position(pistol, 10000, 0);  // 281, 396 - 3.2
    EXPECT_EQ(p.left, 281);
    EXPECT_EQ(p.top, 393);
    p = hit_position(rifle, 1000, 16384);  // half a turn, below the centre: 378 + 1.103
    EXPECT_EQ(p.left, 262);
    EXPECT_EQ(p.top, 379);
    p = hit_position(rifle, 2752, 8192);  // 262 + 2.99968
    EXPECT_EQ(p.left, 265);
    EXPECT_EQ(p.top, 378);
}

TEST(SbGeometry, FaceRowsAndTheirScalesAreSinglePrecision) {
    EXPECT_EQ(&target_layout("Luftpistole"), &target_layout(1));
    EXPECT_EQ(&target_layout("luftpistole"), &target_layout(0));
    EXPECT_EQ(&target_layout("LUFTPISTOLE"), &target_layout(0));
    EXPECT_EQ(&target_layout("Luftpistole "), &target_layout(0));
    EXPECT_EQ(&target_layout(""), &target_layout(0));
    EXPECT_EQ(&target_layout("Luftgewehr"), &target_layout(0));

    // Large distances show the single-precision scale. 0.1103f is 0.110299997031688690185546875:
    // with t / 100 = 100000006, 378 - 11029622.635 = -11029622.365 -> -11029622, where the decimal
    // 0.1103 would give 378 - 11029622.6618 -> -11029623.
    const auto p = hit_position(target_layout(0), 10000000600.0, 0);
    EXPECT_EQ(p.left, 262);
    EXPECT_EQ(p.top, -11029622);
    // 0.0318f is 0.031800001859664917; w = 8192 is a little past a quarter turn (sin 1 - 1.1e-9):
    // 281 + 10^7 * 0.0318f * sin = 318281.018.
    const auto q = hit_position(target_layout(1), 1e9, 8192);
    EXPECT_EQ(q.left, 318281);
    // The vertical angle divides by 32768: cos(pi'/2) with pi' = 3.14159 is 1.3268e-6, so
    // 396 - 0.4246 -> 396 (with 32767 the angle passes the quarter and y would be 411).
    EXPECT_EQ(q.top, 396);
}

TEST(SbGeometry, HorizontalAngleUses32767AndTheConstant314159) {
    // Half a turn, far out: sin(16384 / 32767 * 2 * 3.14159) = -9.3223e-5, times 10^7 * 0.109f:
    // 262 - 101.613 = 160.387 -> 160. With 32768 it would be 265, with the full pi 157.
    const auto p = hit_position(target_layout(0), 1e9, 16384);
    EXPECT_EQ(p.left, 160);
    EXPECT_EQ(p.top, 1103378);  // 378 + 1102999.97
}

TEST(SbGeometry, HalvesRoundToEven) {
    // w = 0: y = 378 - (t / 100) * 0.1103f exactly. 0.1103f = m / 2^27 with m odd, so with
    // t / 100 = 2^26 the distance term is m / 2 and y lies exactly halfway between two integers.
    const double m = std::ldexp(static_cast<double>(0.1103f), 27);
    ASSERT_EQ(m, std::floor(m));
    ASSERT_EQ(std::fmod(m, 2.0), 1.0);
    const double t = 100.0 * std::ldexp(1.0, 26);
    const double exact = 378.0 - m / 2;  // k + 0.5 (negative)
    const double lower = std::floor(exact), upper = lower + 1;
    const double even = std::fmod(lower, 2.0) == 0 ? lower : upper;
    EXPECT_EQ(hit_position(target_layout(0), t, 0).top, static_cast<int32_t>(even));

    // t / 100 = 2^27: the term is m itself, nothing to round.
    EXPECT_EQ(hit_position(target_layout(0), 100.0 * std::ldexp(1.0, 27), 0).top,
              static_cast<int32_t>(378.0 - m));
}

TEST(SbGeometry, PositionsKeepTheirLow32BitsAndFailBeyond64) {
    EXPECT_THROW(hit_position(target_layout(0), 1e30, 0), std::range_error);
    EXPECT_THROW(hit_position(target_layout(0), DBL_MAX, 8192), std::range_error);
    // Beyond 32 bits but within 64: the low 32 bits, as a 32-bit integer keeps them.
    // 0.1103f = m / 2^27, so t / 100 = 2^35 gives y = 378 - 256 m exactly.
    const double m = std::ldexp(static_cast<double>(0.1103f), 27);
    const double t = 100.0 * std::ldexp(1.0, 35);
    const int64_t wide = static_cast<int64_t>(378.0 - m * 256);
    ASSERT_LT(wide, INT32_MIN);
    EXPECT_EQ(hit_position(target_layout(0), t, 0).top, static_cast<int32_t>(static_cast<uint32_t>(wide)));
}

TEST(SbGeometry, MeanTruncatesTowardZero) {
    EXPECT_EQ(mean_position(262 + 265, 377 + 378, 2).left, 263);
    EXPECT_EQ(mean_position(262 + 265, 377 + 378, 2).top, 377);
    EXPECT_EQ(mean_position(-5, 8, 3).left, -1);
    EXPECT_EQ(mean_position(-5, 8, 3).top, 2);
    EXPECT_THROW(mean_position(1, 1, 0), std::invalid_argument);
}

// ---- pages ----

// The pieces of the page, typed from its description.
std::string head(const std::string& name, const std::string& club_nr, const std::string& club) {
    return "<font size=\"5\">" + name + "<br>" + "</font> <a href=\"vst.php?NR=" + club_nr + "\">" + club +
           "<br></a><hr>\r";
}
const std::string kRifleFace =
    "<span style=\"position: absolute; left:38; top:150\"><img border=\"0\" src=\"scheibe_lgv.gif\" width=\"498\" "
    "height=\"501\"></span>\r";
const std::string kPistolFace =
    "<span style=\"position: absolute; left:38; top:150\"><img border=\"0\" src=\"LPScheibeklein.png\" width=\"500\" "
    "height=\"503\"></span>\r";
std::string hit(int x, int y, bool pistol = false) {
    return "<span style=\"position: absolute; left: " + std::to_string(x) + " ; top: " + std::to_string(y) +
           " \"><img border=\"0\" src=\"" + (pistol ? "Index5lp.gif\" width=\"13\" height=\"13" : "index.5.gif\" width=\"50\" height=\"50") +
           "\"></span>\r";
}
std::string mean(int x, int y, bool pistol = false) {
    return "<span style=\"position: absolute; left:" + std::to_string(x) + "; top: " + std::to_string(y) +
           "\"><img border=\"0\" src=\"Kreuz.gif\"width=\"" + (pistol ? "15\" height=\"15" : "50\" height=\"50") +
           "\"></span>\r";
}

class SbPage : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        CompetitionFile f;
        f.club("01207", std::string("SV Tell Oberndorf"));
        f.club("3", std::string("Schützengilde Müllheim & <Freunde>"));
        f.shooter(17, std::string("Müller"), std::string("Anna"), "01207");
        f.shooter(18, std::string("Meier"), std::string("Hans"), "3");
        f.shooter(19, std::string("Ohneverein"), std::string("Paul"), "777");
        f.shooter(20, std::string("Gast"), ringolan::jet::Null{}, "3");
        f.discipline(3, std::string("Luftgewehr"));
        f.discipline(4, std::string("Luftpistole"));
        f.discipline(5, std::string("luftpistole"));
        f.discipline(6, ringolan::jet::Null{});
        const V null = ringolan::jet::Null{};
        auto n = [](int64_t v) { return V(v); };
        f.target(88, {{n(1000), n(0)}, {n(2000), n(8192)}});
        f.target(89, {{n(0), n(100)}, {null, null}, {n(-5), n(0)}, {n(1000), null}, {n(0), n(0)}});
        f.target(90, {{n(10000), n(24576)}, {n(10000), n(0)}});
        f.target(91, {{n(2000), n(8192)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)},
                      {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)}, {n(0), n(0)},
                      {n(0), n(0)}, {n(0), n(0)}, {n(1000), n(0)}});
        f.target(92, {{n(1000), n(0)}, {n(2752), n(8192)}, {n(1000), n(16384)}});
        f.target(93, {});
        ctx_ = new ringolan::pages::PageContext;
        ctx_->snapshot = f.snapshot("sb.mdb");
    }
    static void TearDownTestSuite() { delete ctx_; }

    static std::string page(const std::string& query) {
        const auto r = DispatchPage(*ctx_, "/sb.php", query);
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(r.body.starts_with(kHead) && r.body.ends_with(kFoot));
        return r.body.substr(kHead.size(), r.body.size() - kHead.size() - kFoot.size());
    }
    // The InputError message of a query (empty when it did not fail so).
    static std::string input_error(const std::string& query) {
        try {
            DispatchPage(*ctx_, "/sb.php", query);
        } catch (const InputError& e) {
            return e.what();
        }
        return {};
    }

    static ringolan::pages::PageContext* ctx_;
};
ringolan::pages::PageContext* SbPage::ctx_ = nullptr;

const std::string kAnna = head("M\xFCller, Anna", "01207", "SV Tell Oberndorf");

TEST_F(SbPage, RifleTargetWithTwoHitsAndTheirMean) {
    EXPECT_EQ(page("ST=17&sb=LG1&bz=3&sid=88"),
              kAnna + kRifleFace + hit(262, 377) + hit(264, 378) + mean(263, 377));  // 526/2, 755/2
}

TEST_F(SbPage, PistolTargetUsesTheSecondFace) {
    // 278/396 and 281/393: the mean 559/2 and 789/2, both truncated.
    EXPECT_EQ(page("ST=17&sb=LG1&bz=4&sid=90"),
              kAnna + kPistolFace + hit(278, 396, true) + hit(281, 393, true) + mean(279, 394, true));
}

TEST_F(SbPage, ScheibentypDifferingInCaseOrMissingGivesTheRifleFace) {
    // Row 0 for target 90: 262 - 10.9 = 251.1, 378 (cos near 0); 262, 378 - 11.03.
    const std::string rifle90 = kRifleFace + hit(251, 378) + hit(262, 367) + mean(256, 372);
    EXPECT_EQ(page("ST=17&bz=5&sid=90"), kAnna + rifle90);
    EXPECT_EQ(page("ST=17&bz=6&sid=90"), kAnna + rifle90);   // NULL
    EXPECT_EQ(page("ST=17&bz=99&sid=90"), kAnna + rifle90);  // no discipline row
}

TEST_F(SbPage, ShotsWithoutDistanceAreSkippedAndOneHitHasNoMean) {
    EXPECT_EQ(page("ST=17&bz=3&sid=89"), kAnna + kRifleFace + hit(262, 377));
    EXPECT_EQ(page("ST=17&bz=3&sid=93"), kAnna + kRifleFace);
}

TEST_F(SbPage, AllFifteenSlotsAreRead) {
    EXPECT_EQ(page("ST=17&bz=3&sid=91"), kAnna + kRifleFace + hit(264, 378) + hit(262, 377) + mean(263, 377));
}

TEST_F(SbPage, MeanOfThreeHits) {
    // 262/377, 265/378, 262/379: 789/3 = 263, 1134/3 = 378.
    EXPECT_EQ(page("ST=17&bz=3&sid=92"),
              kAnna + kRifleFace + hit(262, 377) + hit(265, 378) + hit(262, 379) + mean(263, 378));
}

TEST_F(SbPage, UnknownTargetDrawsHeadAndFaceOnly) {
    EXPECT_EQ(page("ST=17&bz=3&sid=12345"), kAnna + kRifleFace);
}

TEST_F(SbPage, ShooterWithoutClubOrUnknownHasAnEmptyHead) {
    EXPECT_EQ(page("ST=19&bz=3&sid=93"), head(", ", "", "") + kRifleFace);
    EXPECT_EQ(page("ST=4711&bz=3&sid=93"), head(", ", "", "") + kRifleFace);
}

TEST_F(SbPage, DatabaseTextGoesOutRaw) {
    EXPECT_EQ(page("ST=20&bz=3&sid=93"), head("Gast, ", "3", "Sch\xFCtzengilde M\xFCllheim & <Freunde>") + kRifleFace);
}

TEST_F(SbPage, ParametersByKeyInAnyOrderAndByPositionWhenMissing) {
    const std::string expected = page("ST=17&sb=LG1&bz=3&sid=88");
    EXPECT_EQ(page("bz=3&sb=LG1&ST=17&sid=88"), expected);
    EXPECT_EQ(page("bz=3&ST=17&sid=0000000000000000008899"), expected);  // 20 characters taken
    // No "bz=": the 20 characters from the third on, "4&ST=17&sb=LG1&sid=", cut at "&".
    EXPECT_EQ(page("xx4&ST=17&sb=LG1&sid=90"), page("ST=17&bz=4&sid=90"));
    // No "sid=": from the fourth character on, not cut at "&".
    EXPECT_EQ(input_error("ST=17&bz=3&sb=1"), "Ung\xFCltige Scheibennummer: \xBB" "17&bz=3&sb=1\xAB");
    // Keys are case-sensitive: without "ST=" the value is "=17&bz=3&sid=88" cut at "&".
    EXPECT_EQ(input_error("st=17&bz=3&sid=88"), "Ung\xFCltige Startnummer: \xBB=17\xAB");
}

TEST_F(SbPage, AValueWithoutAmpersandBehindItIsEmpty) {
    EXPECT_EQ(input_error("bz=3&sid=88&ST=17"), "Ung\xFCltige Startnummer: kein Wert angegeben");
    EXPECT_EQ(input_error("ST=17&sid=88&bz=3"), "Ung\xFCltige Wettkampfnummer: kein Wert angegeben");
    EXPECT_EQ(input_error("ST=17&bz=3&sid="), "Ung\xFCltige Scheibennummer: kein Wert angegeben");
    EXPECT_EQ(input_error(""), "Ung\xFCltige Wettkampfnummer: kein Wert angegeben");
}

TEST_F(SbPage, HostileValuesFailBeforeAnyStatementAndAreEchoedEscaped) {
    for (const std::string q : {"ST=17 or 1=1&bz=3&sid=88", "ST=17&bz=3;DROP&sid=88", "ST=17&bz=3&sid=88&x=1",
                                "ST=17&bz=3&sid=88 or 1=1", "ST=17&bz=3&sid=<script>", "ST=1'&bz=3&sid=88",
                                "ST=17&bz=\"3\"&sid=88", "ST=17&bz=3&sid=1.5", "ST=0x11&bz=3&sid=88"}) {
        const std::string m = input_error(q);
        EXPECT_TRUE(m.starts_with("Ung\xFCltige ")) << q << ": " << m;
        EXPECT_EQ(m.find("SELECT"), std::string::npos) << m;
        EXPECT_EQ(m.find_first_of("<>\"'"), std::string::npos) << m;
    }
    EXPECT_EQ(input_error("ST=17&bz=3&sid=<script>"), "Ung\xFCltige Scheibennummer: \xBB&lt;script&gt;\xAB");
    EXPECT_EQ(input_error("ST=17 or 1=1&bz=3&sid=88"), "Ung\xFCltige Startnummer: \xBB" "17 or 1=1\xAB");
}

TEST_F(SbPage, PathIsMatchedAsASubstringInAnyCase) {
    const auto r = DispatchPage(*ctx_, "/SB.PHP", "ST=17&bz=3&sid=88");
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, kHead + page("ST=17&bz=3&sid=88") + kFoot);
    EXPECT_EQ(DispatchPage(*ctx_, "/xsb.php", "ST=17&bz=3&sid=88").body, r.body);
}

}  // namespace

TEST(SbPageWithoutDatabase, FailsWithAMessage) {
    ringolan::pages::PageContext ctx;
    try {
        DispatchPage(ctx, "/sb.php", "ST=17&bz=3&sid=88");
        FAIL() << "no error";
    } catch (const ringolan::db::QueryError& e) {
        EXPECT_EQ(std::string(e.what()), "Keine Wettkampfdatenbank ge\xF6" "ffnet");
    }
}
