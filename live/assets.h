// The live view's files, compiled into the program (see live/web).
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace ringolan::live {

namespace embedded {
struct File {
    std::string_view path;   // relative to live/web, with "/" separators
    std::string_view bytes;
};
extern const File kFiles[];  // ends with an entry whose path is empty
}  // namespace embedded

struct Asset {
    std::shared_ptr<const std::string> bytes;  // shared with the answers that send it
    std::string_view content_type;
    std::string etag;  // quoted, from the bytes
};

// The file for a path below /live/ ("" and "screen" name pages of the view); nullptr when none.
const Asset* find_asset(std::string_view path);

}  // namespace ringolan::live
