#include "tools/pictures/web_pictures.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <fstream>
#include <stdexcept>

#include "common/error.h"
#include "tools/pictures/faces.h"
#include "tools/pictures/gif_writer.h"
#include "tools/pictures/icons.h"
#include "tools/pictures/palette.h"

namespace ringolan::pictures {

namespace {

constexpr uint32_t kBlack = 0x000000, kWhite = 0xFFFFFF, kPage = 0xF7EBD6;
constexpr uint32_t kHoleRim = 0x202020, kHoleEdge = 0xD8D8D8, kHoleInside = 0x6E6E6E;
constexpr uint32_t kLinkRgb = 0x083986;

std::string encode_qt(const QImage& image, const char* format, int quality) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, format, quality))
        throw Error(std::string("Qt cannot write ") + format + " (image format plug-in missing?)");
    return bytes.toStdString();
}

std::string gif(const QImage& image, const std::vector<uint32_t>& palette, bool transparent) {
    return encode_gif(to_indexed(image, palette, transparent));
}

std::vector<uint32_t> hole_palette() {
    return ramp_palette({{kHoleRim, kHoleEdge}, {kHoleEdge, kHoleInside}}, 16);
}

}  // namespace

const std::vector<WebPicture>& web_pictures() {
    static const std::vector<WebPicture> list{
        {"scheibe_lgv.gif", PictureFormat::Gif, 498, 501},
        {"LPScheibeklein.png", PictureFormat::Png, 500, 503},
        {"index.5.gif", PictureFormat::Gif, 50, 50},
        {"Index5lp.gif", PictureFormat::Gif, 13, 13},
        {"Kreuz.gif", PictureFormat::Gif, 50, 50},
        {"scheibe2.png", PictureFormat::Png, 20, 20},
        {"liste.gif", PictureFormat::Gif, 20, 20},
        {"Drucker.gif", PictureFormat::Gif, 20, 20},
        {"SScheibe.jpg", PictureFormat::Jpeg, 300, 300},
    };
    return list;
}

std::string render_picture(const std::string& file) {
    if (file == "scheibe_lgv.gif")
        return gif(draw_face(Face::AirRifle), ramp_palette({{kBlack, kWhite}, {kBlack, kPage}, {kWhite, kPage}}, 80),
                   false);
    if (file == "LPScheibeklein.png")
        return encode_qt(draw_face(Face::AirPistol).convertToFormat(QImage::Format_RGB32), "PNG", -1);
    if (file == "index.5.gif") return gif(draw_hit_marker(50), hole_palette(), true);
    if (file == "Index5lp.gif") return gif(draw_hit_marker(13), hole_palette(), true);
    if (file == "Kreuz.gif") return gif(draw_mean_cross(50), {0x400000, 0xE01010}, true);
    if (file == "scheibe2.png") return encode_qt(draw_target_icon(20), "PNG", -1);
    if (file == "liste.gif")
        return gif(draw_list_icon(20),
                   ramp_palette({{kPage, 0x404040}, {kWhite, 0x404040}, {kWhite, kLinkRgb}, {kPage, kWhite}}, 24), false);
    if (file == "Drucker.gif")
        return gif(draw_printer_icon(20),
                   ramp_palette({{kPage, 0x303030}, {kWhite, 0x303030}, {0x9A9AA2, 0x303030}, {kWhite, kLinkRgb},
                                 {0x9A9AA2, 0x20B020}, {kPage, 0x9A9AA2}},
                                20),
                   false);
    if (file == "SScheibe.jpg")
        return encode_qt(draw_start_picture(300).convertToFormat(QImage::Format_RGB32), "JPG", 90);
    throw Error("no picture named " + file);
}

void write_web_pictures(const std::filesystem::path& dir) {
    std::filesystem::create_directories(dir);
    for (const auto& picture : web_pictures()) {
        const std::string bytes = render_picture(picture.file);
        std::ofstream out(dir / picture.file, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out.flush()) throw Error("cannot write " + (dir / picture.file).string());
    }
}

}  // namespace ringolan::pictures
