// The pictures of the web root and how they are written.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace ringolan::pictures {

enum class PictureFormat { Gif, Png, Jpeg };

struct WebPicture {
    std::string file;  // name in the web root
    PictureFormat format;
    int width, height;
};

// Every picture the generator writes, in writing order.
const std::vector<WebPicture>& web_pictures();

// The bytes of one picture (GIF by our encoder, PNG and JPEG by Qt). Throws std::runtime_error
// for an unknown name or when Qt cannot encode it.
std::string render_picture(const std::string& file);

// Writes all pictures into dir (created when missing); throws std::runtime_error on failure.
void write_web_pictures(const std::filesystem::path& dir);

}  // namespace ringolan::pictures
