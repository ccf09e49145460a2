// The soak client's reading of pages: generation markers, latency percentiles, and which page
// an address gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <set>
#include <string>
#include <vector>

#include "bench/soak_marker.h"
#include "bench/soak_pages.h"

using ringolan::soak::find_rounds;
using ringolan::soak::is_frame_page;
using ringolan::soak::kPages;
using ringolan::soak::nearest_rank;
using ringolan::soak::page_of;

namespace {

std::string page_name(const std::string& address) {
    const int p = page_of(address);
    return p < 0 ? "-" : kPages[p].name;
}

}  // namespace

TEST(SoakMarker, FindsEveryWellFormedMarkerOnce) {
    EXPECT_EQ(find_rounds("<td>SV Tell ~R17~</td><td>LG ~R17~</td>"), (std::set<uint32_t>{17}));
    EXPECT_EQ(find_rounds("~R1~~R2~"), (std::set<uint32_t>{1, 2}));
    EXPECT_EQ(find_rounds("x~R~R3~"), (std::set<uint32_t>{3}));
    EXPECT_EQ(find_rounds("~R999999999~"), (std::set<uint32_t>{999999999}));
    for (const char* none : {"", "~R~", "~R12", "~Rx~", "~r5~", "R5~", "~R1234567890~", "~ R5~"})
        EXPECT_TRUE(find_rounds(none).empty()) << none;
}

TEST(SoakMarker, NearestRankPercentiles) {
    std::vector<uint32_t> v(100);
    std::iota(v.begin(), v.end(), 1);
    std::reverse(v.begin(), v.end());
    EXPECT_EQ(nearest_rank(v, 0.5), 50u);
    EXPECT_EQ(nearest_rank(v, 0.99), 99u);
    EXPECT_EQ(nearest_rank(v, 1.0), 100u);
    std::vector<uint32_t> three{30, 10, 20};
    EXPECT_EQ(nearest_rank(three, 0.5), 20u);
    EXPECT_EQ(nearest_rank(three, 0.99), 30u);
    std::vector<uint32_t> one{7}, none;
    EXPECT_EQ(nearest_rank(one, 0.01), 7u);
    EXPECT_EQ(nearest_rank(none, 0.5), 0u);
}

TEST(SoakPages, AddressesGetThePageTheServerPicks) {
    // Addresses as the pages and frames link them.
    EXPECT_EQ(page_name("/start.php"), "start.php");
    EXPECT_EQ(page_name("/nvstbl.php"), "vstbl.php");
    EXPECT_EQ(page_name("/vstbl.php"), "vstbl.php");
    EXPECT_EQ(page_name("/vst.php?NR=01234"), "vst.php");
    EXPECT_EQ(page_name("/est.php?ST=101"), "est.php");
    EXPECT_EQ(page_name("/nofls.php?B=%C4"), "ofls.php");
    EXPECT_EQ(page_name("/sb.php?ST=101&bz=1&sid=7"), "sb.php");
    EXPECT_EQ(page_name("/erl.php?titel=3"), "erl.php");
    EXPECT_EQ(page_name("/erl.php.php?titel=3&startnr=101"), "erl.php");
    EXPECT_EQ(page_name("/merl.php?titel=3"), "merl.php");
    EXPECT_EQ(page_name("/mmerl.php?vnr=01234"), "mmerl.php");
    EXPECT_EQ(page_name("/nerlsel.php?"), "erlsel.php");
    EXPECT_EQ(page_name("/ERL.PHP"), "erl.php") << "the server compares in lower case";
    // Only the path counts, and of two texts in it the later one in the server's order.
    EXPECT_EQ(page_name("/start.php?next=est.php"), "start.php");
    EXPECT_EQ(page_name("/est.php/sb.php"), "sb.php");
    EXPECT_EQ(page_name("/sb.php/est.php"), "sb.php");
    // Frames, files and other pages are not among the ten.
    EXPECT_TRUE(is_frame_page("/rahmenofls.php?B=A"));
    EXPECT_EQ(page_name("/rahmenofls.php?B=A"), "-");
    EXPECT_FALSE(is_frame_page("/nofls.php?B=A"));
    EXPECT_EQ(page_name("/Termine.htm"), "-");
    EXPECT_EQ(page_name("/SScheibe.jpg"), "-");
    EXPECT_EQ(page_name("/nmerl.php"), "-") << "neither /merl.php nor mmerl.php";
}
