// The committed web root: the pictures are what ringolan-pictures draws today, and the hand-written
// pages are Windows-1252 with the links the pages rely on.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QImage>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>

#include "tools/pictures/web_pictures.h"

namespace fs = std::filesystem;
using namespace ringolan::pictures;

namespace {

const fs::path kWeb = fs::path(RINGOLAN_SOURCE_DIR) / "Web";

std::string bytes_of(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QImage decode(const std::string& bytes) {
    QImage image;
    image.loadFromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())));
    return image.convertToFormat(QImage::Format_ARGB32);
}

int run(const std::string& args) {
    const int rc = std::system((std::string(PICTURES_BINARY) + " " + args + " >/dev/null 2>&1").c_str());
    return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

class WebRoot : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        out_ = new fs::path(fs::temp_directory_path() / ("ringolan_web_" + std::to_string(::getpid())));
        fs::remove_all(*out_);
        ASSERT_EQ(run("--out " + out_->string()), 0);
    }
    static void TearDownTestSuite() {
        fs::remove_all(*out_);
        delete out_;
    }
    static fs::path* out_;
};
fs::path* WebRoot::out_ = nullptr;

TEST_F(WebRoot, CommittedPicturesAreTheGeneratorsOutput) {
    std::set<std::string> written;
    for (const auto& e : fs::directory_iterator(*out_)) written.insert(e.path().filename().string());
    ASSERT_EQ(written.size(), web_pictures().size());

    for (const auto& picture : web_pictures()) {
        SCOPED_TRACE(picture.file);
        const std::string fresh = bytes_of(*out_ / picture.file), committed = bytes_of(kWeb / picture.file);
        ASSERT_FALSE(fresh.empty());
        ASSERT_FALSE(committed.empty()) << "missing in Web/; regenerate with ringolan-pictures --out Web";
        const QImage a = decode(fresh), b = decode(committed);
        ASSERT_FALSE(a.isNull());
        ASSERT_FALSE(b.isNull());
        EXPECT_EQ(a.width(), picture.width);
        EXPECT_EQ(a.height(), picture.height);
        ASSERT_EQ(a.size(), b.size());
        switch (picture.format) {
        case PictureFormat::Gif:  // our own encoder: byte for byte
            EXPECT_TRUE(fresh == committed) << "regenerate Web/ with ringolan-pictures --out Web";
            break;
        case PictureFormat::Png:  // lossless: pixel for pixel
            EXPECT_TRUE(a == b) << "regenerate Web/ with ringolan-pictures --out Web";
            break;
        case PictureFormat::Jpeg: {  // lossy: another encoder build may round differently
            int worst = 0;
            for (int y = 0; y < a.height(); ++y)
                for (int x = 0; x < a.width(); ++x) {
                    const QRgb p = a.pixel(x, y), q = b.pixel(x, y);
                    worst = std::max({worst, std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                                      std::abs(qBlue(p) - qBlue(q))});
                }
            EXPECT_LE(worst, 4);
            break;
        }
        }
    }
}

TEST_F(WebRoot, MarkersAreTransparentAroundAndOpaqueInTheMiddle) {
    for (const char* name : {"index.5.gif", "Index5lp.gif", "Kreuz.gif"}) {
        SCOPED_TRACE(name);
        const QImage img = decode(bytes_of(kWeb / name));
        ASSERT_FALSE(img.isNull());
        const int w = img.width(), h = img.height();
        for (QPoint corner : {QPoint(0, 0), QPoint(w - 1, 0), QPoint(0, h - 1), QPoint(w - 1, h - 1)})
            EXPECT_EQ(qAlpha(img.pixel(corner)), 0);
        EXPECT_EQ(qAlpha(img.pixel(w / 2, h / 2)), 255);
        // Symmetric about the centre, so that the marker's middle is the hit.
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                ASSERT_EQ(qAlpha(img.pixel(x, y)) == 0, qAlpha(img.pixel(w - 1 - x, h - 1 - y)) == 0) << x << "," << y;
    }
    // The hole shows on white paper and on the black aiming mark alike.
    const QImage hole = decode(bytes_of(kWeb / "index.5.gif"));
    int dark = 0, light = 0;
    for (int y = 0; y < hole.height(); ++y)
        for (int x = 0; x < hole.width(); ++x) {
            const QRgb p = hole.pixel(x, y);
            if (qAlpha(p) == 0) continue;
            dark += qGray(p) < 60;
            light += qGray(p) > 190;
        }
    EXPECT_GT(dark, 50);
    EXPECT_GT(light, 50);
}

TEST_F(WebRoot, PagesAreWindows1252WithTheirLinks) {
    for (const char* name : {"index.html", "navi.html", "Termine.htm"}) {
        SCOPED_TRACE(name);
        const std::string page = bytes_of(kWeb / name);
        ASSERT_FALSE(page.empty());
        EXPECT_NE(page.find("charset=windows-1252"), std::string::npos);
        EXPECT_NE(page.find("#F7EBD6"), std::string::npos) << "page background";
        // No UTF-8 sequences: a lead byte followed by a continuation byte.
        for (std::size_t i = 0; i + 1 < page.size(); ++i) {
            const auto a = static_cast<unsigned char>(page[i]), b = static_cast<unsigned char>(page[i + 1]);
            ASSERT_FALSE(a >= 0xC2 && a <= 0xF4 && b >= 0x80 && b <= 0xBF) << "UTF-8 at byte " << i;
        }
    }
    EXPECT_NE(bytes_of(kWeb / "index.html").find("URL=start.php"), std::string::npos);
    const std::string navi = bytes_of(kWeb / "navi.html");
    for (const char* link : {"<a href=\"start.php\" target=\"_top\">", "<a href=\"rahmenvstbl.php\" target=\"_top\">",
                             "<a href=\"rahmenerlsel.php\" target=\"_top\">"})
        EXPECT_NE(navi.find(link), std::string::npos) << link;
    const std::string dates = bytes_of(kWeb / "Termine.htm");
    EXPECT_NE(dates.find("Sch\xFCtzenhaus"), std::string::npos) << "umlaut as one Windows-1252 byte";
}

TEST_F(WebRoot, CopiedBesideTheServer) {
    const fs::path copy = fs::path(RINGOLAN_BINARY_DIR) / "app" / "Web";
    for (const char* name : {"index.html", "navi.html", "Termine.htm", "scheibe_lgv.gif", "SScheibe.jpg"})
        EXPECT_TRUE(bytes_of(copy / name) == bytes_of(kWeb / name)) << name;
}

TEST(PicturesTool, UsageErrors) {
    EXPECT_EQ(run(""), 2);
    EXPECT_EQ(run("--out"), 2);
    EXPECT_EQ(run("--size 3"), 2);
    EXPECT_EQ(run("--out /proc/ringolan-no-such-folder"), 1);
}

}  // namespace
