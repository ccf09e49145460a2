#include "live/assets.h"

#include <cstdint>
#include <cstdio>
#include <map>

#include "common/hash.h"

namespace ringolan::live {

namespace {

std::string_view content_type_of(std::string_view path) {
    static const std::pair<std::string_view, std::string_view> kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".ico", "image/x-icon"},
        {".json", "application/json"},
        {".webmanifest", "application/manifest+json"},
        {".txt", "text/plain; charset=utf-8"},
    };
    for (const auto& [ending, type] : kTypes)
        if (path.ends_with(ending)) return type;
    return "application/octet-stream";
}

std::string etag_of(std::string_view bytes) {
    const uint64_t hash = text::fnv1a(bytes);
    char buf[20];
    std::snprintf(buf, sizeof buf, "\"%016llx\"", static_cast<unsigned long long>(hash));
    return buf;
}

// Addresses of the view's pages, answered with their HTML file.
std::string_view file_for(std::string_view path) {
    if (path.empty()) return "index.html";
    if (path == "screen") return "screen.html";
    return path;
}

const std::map<std::string_view, Asset>& assets() {
    static const auto table = [] {
        std::map<std::string_view, Asset> out;
        for (const embedded::File* f = embedded::kFiles; !f->path.empty(); ++f)
            out.emplace(f->path, Asset{std::make_shared<const std::string>(f->bytes), content_type_of(f->path),
                                       etag_of(f->bytes)});
        return out;
    }();
    return table;
}

}  // namespace

const Asset* find_asset(std::string_view path) {
    const auto it = assets().find(file_for(path));
    return it == assets().end() ? nullptr : &it->second;
}

}  // namespace ringolan::live
