// MultipartBody: a multipart/form-data request body (text fields, then at most one file part,
// then the closing delimiter), byte for byte:
//   text field:  "--" B "\r\n" "Content-Disposition: form-data; name=\"N\"\r\n" "\r\n" V "\r\n"
//   file part:   "--" B "\r\n" "Content-Disposition: form-data; name=\"N\"; filename=\"F\"\r\n"
//                "Content-Type: T\r\n\r\n" then the content, nothing after it
//   finish:      "\r\n--" B "--\r\n"
// Texts are 8-bit and written as passed. A file part is not copied into memory: the body keeps
// the open source and reads its content when the body is read, so a large file costs no memory.
#pragma once

#include <cstdint>
#include <filesystem>
#include <istream>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace ringolan::upload {

// A local time to the millisecond.
struct LocalTime {
    int year = 2000, month = 1, day = 1;  // month 1..12
    int hour = 0, minute = 0, second = 0, millisecond = 0;
    static LocalTime now();
};

// 26 "-" and the time as "mmddyyhhnnsszzz" (41 characters).
std::string form_boundary(const LocalTime& time);

class MultipartBody {
public:
    // The boundary from the current local time.
    MultipartBody();
    explicit MultipartBody(const LocalTime& time);
    ~MultipartBody();
    MultipartBody(const MultipartBody&) = delete;
    MultipartBody& operator=(const MultipartBody&) = delete;

    const std::string& boundary() const { return boundary_; }
    const std::string& content_type() const { return content_type_; }

    void add_text_field(std::string_view name, std::string_view value);
    // Opens file for reading and adds a part with the path (as passed) as its file name.
    // Throws std::runtime_error with the system's reason when the file cannot be opened; the
    // body keeps what was added before.
    void add_file_field(std::string_view name, const std::filesystem::path& file, std::string_view content_type);
    // Adds a part holding source's content from its first byte up to the size it has now.
    // The body owns source and reads it when it is read. Throws when source cannot be sized.
    void add_stream_field(std::string_view name, std::string_view file_name, std::unique_ptr<std::istream> source,
                          std::string_view content_type);
    // Appends the closing delimiter and sets the position to 0.
    void finish();

    // Reading the body like a stream.
    uint64_t size() const { return size_; }
    uint64_t position() const { return position_; }
    void seek(uint64_t position);  // clamped to size()
    // Copies up to n bytes from the position on and advances; returns the count (0 at the end).
    // Throws std::runtime_error when a file part's source ends early or fails.
    size_t read(char* buffer, size_t n);
    // From the position to the end into out; returns the bytes written.
    uint64_t write_to(std::ostream& out);
    // The whole body from byte 0 (for small bodies); the position is unchanged.
    std::string bytes();

private:
    struct Segment {
        uint64_t offset = 0;                    // in the body
        uint64_t size = 0;
        std::string bytes;                      // held bytes, or
        std::unique_ptr<std::istream> source;   // a stream read from its start
    };
    void append(std::string_view bytes);
    size_t read_segment(Segment& s, uint64_t from, char* buffer, size_t n);

    std::string boundary_;
    std::string content_type_;
    std::vector<Segment> segments_;
    uint64_t size_ = 0;
    uint64_t position_ = 0;
};

}  // namespace ringolan::upload
