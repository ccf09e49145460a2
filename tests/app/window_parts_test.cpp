// The window's pieces without a window: address list, dialog filters, command line, icons.
#include <gtest/gtest.h>

#include <set>
#include <stdexcept>

#include "app/window/address_list.h"
#include "app/window/command_line.h"
#include "app/window/filename_edit.h"
#include "app/window/icons.h"
#include "window_fixture.h"

namespace ringolan::window {
namespace {

using Lines = std::vector<std::string>;

TEST(ListenAddresses, LoopbackIsAddedLastUnlessItComesFirst) {
    EXPECT_EQ(listen_addresses({"192.168.1.20"}, {}), (Lines{"192.168.1.20", "127.0.0.1"}));
    EXPECT_EQ(listen_addresses({"10.0.0.5", "192.168.1.20"}, {"10.0.0.5"}),
              (Lines{"10.0.0.5", "192.168.1.20", "127.0.0.1"}));
    EXPECT_EQ(listen_addresses({"127.0.0.1", "192.168.1.20"}, {}), (Lines{"127.0.0.1", "192.168.1.20"}));
    // 127.0.0.1 after another address stays where the resolver put it, and comes again at the end.
    EXPECT_EQ(listen_addresses({"192.168.1.20", "127.0.0.1"}, {}),
              (Lines{"192.168.1.20", "127.0.0.1", "127.0.0.1"}));
}

TEST(ListenAddresses, NothingResolvedGivesAnEmptyList) { EXPECT_TRUE(listen_addresses({}, {"192.168.1.20"}).empty()); }

TEST(ListenAddresses, HostKnownOnlyAsLoopbackAddsTheInterfaces) {
    EXPECT_EQ(listen_addresses({"127.0.1.1"}, {"192.168.1.20", "10.1.1.1"}),
              (Lines{"127.0.1.1", "192.168.1.20", "10.1.1.1", "127.0.0.1"}));
    EXPECT_EQ(listen_addresses({"127.0.0.1"}, {"192.168.1.20"}), (Lines{"127.0.0.1", "192.168.1.20"}));
    // A host with a real address keeps exactly the resolver's answer.
    EXPECT_EQ(listen_addresses({"192.168.1.20"}, {"10.1.1.1"}), (Lines{"192.168.1.20", "127.0.0.1"}));
}

TEST(DialogFilters, PairsBecomeQtNameFiltersWithTheirTextsKept) {
    EXPECT_EQ(qt_name_filters("Access-Dateien|*.mdb"), QStringList{"Access-Dateien (*.mdb)"});
    // The description that already names its pattern is not repeated; the unclosed one keeps its text.
    EXPECT_EQ(qt_name_filters("Bilder JPG (*.jpg)|*.jpg|Bilder GIF  (*.GIF|*.gif"),
              (QStringList{"Bilder JPG (*.jpg)", "Bilder GIF  (*.GIF (*.gif)"}));
    EXPECT_EQ(qt_name_filters("HTML - Seite  (*.htm*)|*.htm*"), QStringList{"HTML - Seite  (*.htm*)"});
    EXPECT_EQ(qt_name_filters("Bilder|*.jpg;*.png|Rest"), QStringList{"Bilder (*.jpg *.png)"});
}

TEST(CommandLine, IniAndPort) {
    EXPECT_EQ(parse_command_line({}).port, 80);
    EXPECT_FALSE(parse_command_line({}).ini);
    const CommandLine c = parse_command_line({"--ini", "/tmp/x.ini", "--port", "0"});
    EXPECT_EQ(c.ini, std::filesystem::path("/tmp/x.ini"));
    EXPECT_EQ(c.port, 0);
    EXPECT_EQ(parse_command_line({"--port", "65535"}).port, 65535);
    EXPECT_TRUE(parse_command_line({"--help"}).help);
    const CommandLine v = parse_command_line({"--port", "8080", "--version"});
    EXPECT_TRUE(v.version);
    EXPECT_FALSE(v.help);
    EXPECT_FALSE(parse_command_line({"--help"}).version);
}

TEST(CommandLine, BadArgumentsAreRefused) {
    for (const Lines& bad : {Lines{"--port"}, Lines{"--port", "65536"}, Lines{"--port", "-1"},
                             Lines{"--port", "8o"}, Lines{"--port", ""}, Lines{"--ini"}, Lines{"--ini", ""},
                             Lines{"--db", "x.mdb"}, Lines{"x.mdb"}})
        EXPECT_THROW(parse_command_line(bad), std::invalid_argument) << bad[0];
}

TEST(StateIcons, FourDistinctPicturesOf16By16) {
    testing::qt_app();
    std::set<std::vector<uchar>> seen;
    for (int image : {kIconDesign, kIconStopped, kIconRunning, kIconActivity}) {
        const QImage picture = state_image(image).convertToFormat(QImage::Format_ARGB32);
        EXPECT_EQ(picture.size(), QSize(16, 16));
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0);     // corners stay transparent
        EXPECT_EQ(qAlpha(picture.pixel(8, 8)), 255);   // the face is opaque
        seen.insert(std::vector<uchar>(picture.constBits(), picture.constBits() + picture.sizeInBytes()));
    }
    EXPECT_EQ(seen.size(), 4u);
    // Stopped reads red, running green.
    const QColor stopped = state_image(kIconStopped).pixelColor(2, 8);
    const QColor running = state_image(kIconRunning).pixelColor(2, 8);
    EXPECT_GT(stopped.red(), stopped.green());
    EXPECT_GT(running.green(), running.red());
}

}  // namespace
}  // namespace ringolan::window

// Fontconfig keeps a cache for the life of the process, which LeakSanitizer reports at exit.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }
