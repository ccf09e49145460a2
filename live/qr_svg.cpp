#include "live/qr_svg.h"

#include <qrencode.h>

#include <memory>
#include <stdexcept>

namespace ringolan::live {

namespace {

constexpr int kQuietZone = 4;

struct QrFree {
    void operator()(QRcode* code) const { QRcode_free(code); }
};

}  // namespace

std::string qr_svg(std::string_view text) {
    const std::string data(text);
    std::unique_ptr<QRcode, QrFree> code(QRcode_encodeString8bit(data.c_str(), 0, QR_ECLEVEL_M));
    if (!code) throw std::runtime_error("QR-Code kann nicht erzeugt werden");
    const int width = code->width;
    const int size = width + 2 * kQuietZone;
    std::string out = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + std::to_string(size) + " " +
                      std::to_string(size) + "\" shape-rendering=\"crispEdges\">";
    out += "<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/><path fill=\"#000\" d=\"";
    // One horizontal run of dark modules per path segment.
    for (int y = 0; y < width; ++y) {
        for (int x = 0; x < width;) {
            if (!(code->data[y * width + x] & 1)) {
                ++x;
                continue;
            }
            int run = 1;
            while (x + run < width && (code->data[y * width + x + run] & 1)) ++run;
            out += "M" + std::to_string(x + kQuietZone) + " " + std::to_string(y + kQuietZone) + "h" +
                   std::to_string(run) + "v1h-" + std::to_string(run) + "z";
            x += run;
        }
    }
    out += "\"/></svg>";
    return out;
}

}  // namespace ringolan::live
