#include "upload/multipart.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "common/error.h"
#include "platform/calendar_time.h"

namespace ringolan::upload {

LocalTime LocalTime::now() {
    const auto t = std::chrono::system_clock::now();
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    const std::time_t secs = static_cast<std::time_t>(ms / 1000);
    const std::tm tm = platform::local_time(secs);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(ms % 1000)};
}

std::string form_boundary(const LocalTime& t) {
    char digits[32];
    std::snprintf(digits, sizeof digits, "%02d%02d%02d%02d%02d%02d%03d", t.month % 100, t.day % 100, t.year % 100,
                  t.hour % 100, t.minute % 100, t.second % 100, t.millisecond % 1000);
    return std::string(26, '-') + digits;
}

MultipartBody::MultipartBody() : MultipartBody(LocalTime::now()) {}

MultipartBody::MultipartBody(const LocalTime& time)
    : boundary_(form_boundary(time)), content_type_("multipart/form-data; boundary=" + boundary_) {}

MultipartBody::~MultipartBody() = default;

void MultipartBody::append(std::string_view bytes) {
    if (bytes.empty()) return;
    if (segments_.empty() || segments_.back().source) {
        Segment s;
        s.offset = size_;
        segments_.push_back(std::move(s));
    }
    Segment& s = segments_.back();
    s.bytes.append(bytes);
    s.size += bytes.size();
    size_ += bytes.size();
}

void MultipartBody::add_text_field(std::string_view name, std::string_view value) {
    std::string part;
    part.append("--").append(boundary_).append("\r\n");
    part.append("Content-Disposition: form-data; name=\"").append(name).append("\"\r\n");
    part.append("\r\n");
    part.append(value).append("\r\n");
    append(part);
}

void MultipartBody::add_file_field(std::string_view name, const std::filesystem::path& file,
                                   std::string_view content_type) {
    errno = 0;
    auto in = std::make_unique<std::ifstream>(file, std::ios::binary);
    if (!*in) {
        const int err = errno;
        throw Error("Die Datei " + file.string() + " kann nicht gelesen werden" +
                                 (err ? std::string(": ") + std::strerror(err) : std::string()));
    }
    add_stream_field(name, file.string(), std::move(in), content_type);
}

void MultipartBody::add_stream_field(std::string_view name, std::string_view file_name,
                                     std::unique_ptr<std::istream> source, std::string_view content_type) {
    if (!source) throw std::invalid_argument("AddStreamField: no source");
    source->seekg(0, std::ios::end);
    const auto end = source->tellg();
    source->seekg(0, std::ios::beg);
    if (end < 0 || !*source) throw Error("AddStreamField: the size of " + std::string(file_name) + " is unknown");

    std::string head;
    head.append("--").append(boundary_).append("\r\n");
    head.append("Content-Disposition: form-data; name=\"").append(name).append("\"");
    head.append("; filename=\"").append(file_name).append("\"\r\n");
    head.append("Content-Type: ").append(content_type).append("\r\n\r\n");
    append(head);

    const auto size = static_cast<uint64_t>(end);
    if (size == 0) return;
    Segment s;
    s.offset = size_;
    s.size = size;
    s.source = std::move(source);
    segments_.push_back(std::move(s));
    size_ += size;
}

void MultipartBody::finish() {
    append("\r\n--" + boundary_ + "--\r\n");
    position_ = 0;
}

void MultipartBody::seek(uint64_t position) { position_ = std::min(position, size_); }

size_t MultipartBody::read_segment(Segment& s, uint64_t from, char* buffer, size_t n) {
    if (!s.source) {
        s.bytes.copy(buffer, n, static_cast<size_t>(from));
        return n;
    }
    s.source->clear();
    s.source->seekg(static_cast<std::streamoff>(from));
    s.source->read(buffer, static_cast<std::streamsize>(n));
    if (static_cast<size_t>(s.source->gcount()) != n)
        throw Error("multipart: the file part's source ended before its " + std::to_string(s.size) + " bytes");
    return n;
}

size_t MultipartBody::read(char* buffer, size_t n) {
    size_t done = 0;
    // Segments are in body order; find the one holding the position.
    for (auto& s : segments_) {
        if (done == n || position_ >= size_) break;
        if (position_ >= s.offset + s.size) continue;
        const uint64_t from = position_ - s.offset;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(s.size - from, n - done));
        read_segment(s, from, buffer + done, take);
        done += take;
        position_ += take;
    }
    return done;
}

uint64_t MultipartBody::write_to(std::ostream& out) {
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    for (size_t got; (got = read(buffer.data(), buffer.size())) > 0;) {
        out.write(buffer.data(), static_cast<std::streamsize>(got));
        if (!out) throw Error("multipart: writing the body failed");
        total += got;
    }
    return total;
}

std::string MultipartBody::bytes() {
    const uint64_t kept = position_;
    std::string all(static_cast<size_t>(size_), '\0');
    position_ = 0;
    size_t got = 0;
    try {
        got = read(all.data(), all.size());
    } catch (...) {
        position_ = kept;
        throw;
    }
    position_ = kept;
    all.resize(got);
    return all;
}

}  // namespace ringolan::upload
