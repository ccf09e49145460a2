// The GIF encoder, read back by Qt's own GIF reader pixel for pixel.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QImage>
#include <random>
#include <stdexcept>

#include "tools/pictures/gif_writer.h"
#include "tools/pictures/palette.h"

using ringolan::pictures::encode_gif;
using ringolan::pictures::IndexedImage;

namespace {

IndexedImage make(int w, int h, int colours, int transparent = -1) {
    IndexedImage img;
    img.width = w;
    img.height = h;
    img.transparent = transparent;
    for (int i = 0; i < colours; ++i)  // distinct colours, spread over all three channels
        img.palette.push_back((static_cast<uint32_t>(i * 37 % 256) << 16) | (static_cast<uint32_t>(255 - i) << 8) |
                              static_cast<uint32_t>(i));
    img.pixels.assign(static_cast<std::size_t>(w) * h, 0);
    return img;
}

void fill_random(IndexedImage& img, unsigned seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, static_cast<int>(img.palette.size()) - 1);
    for (auto& p : img.pixels) p = static_cast<uint8_t>(pick(rng));
}

// Decodes with Qt and compares every pixel with the palette colour of its index.
void expect_round_trip(const IndexedImage& img) {
    const std::string bytes = encode_gif(img);
    QImage back;
    ASSERT_TRUE(back.loadFromData(QByteArray(bytes.data(), static_cast<qsizetype>(bytes.size())), "GIF"))
        << img.width << "x" << img.height << ", " << img.palette.size() << " colours";
    ASSERT_EQ(back.width(), img.width);
    ASSERT_EQ(back.height(), img.height);
    back = back.convertToFormat(QImage::Format_ARGB32);
    int wrong = 0;
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const int idx = img.pixels[static_cast<std::size_t>(y) * img.width + x];
            const QRgb got = back.pixel(x, y);
            const bool ok = idx == img.transparent
                                ? qAlpha(got) == 0
                                : qAlpha(got) == 255 && (got & 0xFFFFFF) == img.palette[static_cast<std::size_t>(idx)];
            if (!ok && ++wrong <= 5)
                ADD_FAILURE() << "pixel " << x << "," << y << " index " << idx << " read back as " << std::hex << got;
        }
    EXPECT_EQ(wrong, 0);
}

TEST(GifWriter, RandomPixelsOfEveryPaletteSizeReadBackExactly) {
    // Palette sizes around the powers of two that change the table and code sizes.
    for (int colours : {1, 2, 3, 4, 5, 8, 9, 16, 17, 64, 129, 255, 256}) {
        SCOPED_TRACE(colours);
        IndexedImage img = make(37, 23, colours);
        fill_random(img, static_cast<unsigned>(colours));
        expect_round_trip(img);
    }
}

TEST(GifWriter, LargeNoiseFillsTheCodeTableManyTimes) {
    // 256 colours of noise: every pixel adds a table entry, so the 4096 codes run out dozens of times.
    IndexedImage img = make(640, 480, 256);
    fill_random(img, 7);
    expect_round_trip(img);
    // Few colours of noise reach the 12-bit codes with long strings before the table is full.
    IndexedImage few = make(700, 300, 3);
    fill_random(few, 8);
    expect_round_trip(few);
}

TEST(GifWriter, LongRunsAndTinyImages) {
    IndexedImage flat = make(500, 400, 2);
    std::fill(flat.pixels.begin(), flat.pixels.end(), 1);
    expect_round_trip(flat);

    IndexedImage one = make(1, 1, 4);
    one.pixels[0] = 3;
    expect_round_trip(one);

    IndexedImage column = make(1, 300, 16);
    for (std::size_t i = 0; i < column.pixels.size(); ++i) column.pixels[i] = static_cast<uint8_t>(i / 20 % 16);
    expect_round_trip(column);
}

TEST(GifWriter, TransparentIndexReadsBackWithoutAlpha) {
    IndexedImage img = make(50, 50, 5, 4);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) {
            const int dx = x - 25, dy = y - 25;
            img.pixels[static_cast<std::size_t>(y) * 50 + x] =
                static_cast<uint8_t>(dx * dx + dy * dy < 400 ? (x + y) % 4 : 4);
        }
    expect_round_trip(img);

    IndexedImage first = make(9, 9, 2, 0);  // the transparent index may be the first entry
    fill_random(first, 3);
    expect_round_trip(first);
}

TEST(GifWriter, FileLayout) {
    IndexedImage img = make(300, 2, 3);
    std::string gif = encode_gif(img);
    ASSERT_GT(gif.size(), 13u + 12u);
    EXPECT_EQ(gif.substr(0, 6), "GIF89a");
    EXPECT_EQ(static_cast<uint8_t>(gif[6]) | static_cast<uint8_t>(gif[7]) << 8, 300);
    EXPECT_EQ(static_cast<uint8_t>(gif[8]) | static_cast<uint8_t>(gif[9]) << 8, 2);
    // Three colours need a global table of four entries: size field 1, then 12 table bytes.
    EXPECT_EQ(static_cast<uint8_t>(gif[10]), 0x80 | 0x10 | 0x01);
    EXPECT_EQ(gif[13 + 12], '\x2C') << "no graphic control extension without transparency";
    EXPECT_EQ(gif.back(), '\x3B');
    EXPECT_EQ(encode_gif(img), gif) << "equal input, equal bytes";

    img.transparent = 2;
    gif = encode_gif(img);
    EXPECT_EQ(gif.substr(13 + 12, 4), std::string("\x21\xF9\x04\x01", 4));
    EXPECT_EQ(static_cast<uint8_t>(gif[13 + 12 + 6]), 2) << "transparent index";
}

TEST(GifWriter, RejectsInconsistentImages) {
    IndexedImage ok = make(4, 4, 4);
    EXPECT_NO_THROW(encode_gif(ok));

    IndexedImage bad = ok;
    bad.width = 0;
    bad.pixels.clear();
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
    bad = ok;
    bad.pixels.pop_back();
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
    bad = ok;
    bad.palette.clear();
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
    bad = make(4, 4, 257);
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
    bad = ok;
    bad.pixels[5] = 4;  // one past the palette
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
    bad = ok;
    bad.transparent = 4;
    EXPECT_THROW(encode_gif(bad), std::invalid_argument);
}

TEST(Palette, RampsAndNearestColours) {
    using ringolan::pictures::ramp_palette;
    using ringolan::pictures::to_indexed;
    // Black to white in 5 steps: 0, 64, 128, 191, 255 (rounded to nearest); white to black adds nothing.
    const auto grey = ramp_palette({{0x000000, 0xFFFFFF}, {0xFFFFFF, 0x000000}}, 5);
    ASSERT_EQ(grey.size(), 5u);
    EXPECT_EQ(grey[1], 0x404040u);
    EXPECT_EQ(grey[3], 0xBFBFBFu);
    EXPECT_THROW(ramp_palette({{0x000000, 0xFFFFFF}, {0xFF0000, 0x00FF00}}, 200), std::invalid_argument);

    QImage img(3, 1, QImage::Format_ARGB32);
    img.setPixel(0, 0, qRgba(0x30, 0x30, 0x30, 255));  // nearest: 0x404040
    img.setPixel(1, 0, qRgba(0xF0, 0xF0, 0xF0, 127));  // under half covered: transparent
    img.setPixel(2, 0, qRgba(0xF0, 0x00, 0x00, 128));  // half covered: nearest grey of its colour
    const auto indexed = to_indexed(img, grey, true);
    ASSERT_EQ(indexed.palette.size(), 6u);
    EXPECT_EQ(indexed.transparent, 5);
    EXPECT_EQ(indexed.pixels, (std::vector<uint8_t>{1, 5, 1}));
    const auto opaque = to_indexed(img, grey, false);
    EXPECT_EQ(opaque.transparent, -1);
    EXPECT_EQ(opaque.pixels[1], 4);
}

}  // namespace
