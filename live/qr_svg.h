// QR codes drawn as SVG, for the hall screen's invitation to join on a phone.
#pragma once

#include <string>
#include <string_view>

namespace ringolan::live {

// An SVG image of a QR code holding text (error correction level M, a quiet zone of four
// modules). Throws std::runtime_error when the text does not fit a QR code.
std::string qr_svg(std::string_view text);

}  // namespace ringolan::live
