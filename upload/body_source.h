// Request bodies that are read block by block while they are sent, so a large upload need not
// be held in memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <istream>
#include <string>

namespace ringolan::upload {

class BodySource {
public:
    virtual ~BodySource() = default;
    // The number of bytes from the first byte to the end.
    virtual std::uint64_t size() = 0;
    // Goes back to the first byte.
    virtual void rewind() = 0;
    // Reads up to max bytes into out; 0 only at the end. Throws std::runtime_error on a read failure.
    virtual std::size_t read(char* out, std::size_t max) = 0;
};

class StringBodySource : public BodySource {
public:
    explicit StringBodySource(std::string bytes) : bytes_(std::move(bytes)) {}
    std::uint64_t size() override { return bytes_.size(); }
    void rewind() override { pos_ = 0; }
    std::size_t read(char* out, std::size_t max) override;

private:
    std::string bytes_;
    std::size_t pos_ = 0;
};

// Any seekable input stream; its size is measured from its beginning to its end.
class StreamBodySource : public BodySource {
public:
    explicit StreamBodySource(std::istream& in) : in_(in) {}
    std::uint64_t size() override;
    void rewind() override;
    std::size_t read(char* out, std::size_t max) override;

private:
    std::istream& in_;
};

class FileBodySource : public BodySource {
public:
    // Throws std::runtime_error naming the file when it cannot be opened.
    explicit FileBodySource(const std::filesystem::path& file);
    std::uint64_t size() override { return stream_.size(); }
    void rewind() override { stream_.rewind(); }
    std::size_t read(char* out, std::size_t max) override { return stream_.read(out, max); }

private:
    std::ifstream file_;
    StreamBodySource stream_{file_};
};

}  // namespace ringolan::upload
