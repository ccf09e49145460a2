// INI files in the private-profile form: "[section]" lines followed by "key=value" lines,
// names matched without regard to ASCII letter case, values as the bytes in the file
// (Windows-1252). A change rewrites only the line of its key; everything else, comments and
// line ends included, stays as it was.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace ringolan::setup {

// A profile file that cannot be written. what() is the German text shown to the user:
// "nach <full path> kann nicht geschrieben werden".
class IniWriteError : public Error {
public:
    using Error::Error;
};

// The longest string value handed out; longer values are cut.
inline constexpr std::size_t kMaxProfileString = 2047;

// A profile integer: optional sign and decimal digits, or, for a text longer than two
// characters that begins with "0x" or "0X", hexadecimal digits (at most 32 bits; values above
// 0x7FFFFFFF wrap to negative). Nothing else may stand in the text; anything else, and a
// number out of range, is no number.
std::optional<int32_t> parse_profile_integer(std::string_view text);

class IniFile {
public:
    IniFile() = default;
    explicit IniFile(std::string_view bytes);

    // The file as it stands; a missing or unreadable file reads as an empty one.
    static IniFile load(const std::filesystem::path& file);

    // The value of the first key of that name in the first section of that name: blanks
    // around it removed, one pair of enclosing double or single quotes removed, cut to
    // kMaxProfileString. Nothing when the section or key is missing.
    std::optional<std::string> find(std::string_view section, std::string_view key) const;

    std::string read_string(std::string_view section, std::string_view key,
                            std::string_view fallback) const;
    // The fallback also when the value is no number (see parse_profile_integer).
    int32_t read_integer(std::string_view section, std::string_view key, int32_t fallback) const;
    // An integer: zero is false, any other number true.
    bool read_bool(std::string_view section, std::string_view key, bool fallback) const;

    // Sets the key's value. An existing key keeps its line and its spelling; a missing key is
    // added after the last key of the section; a missing section is added at the end.
    // Line breaks in the value are dropped, since a value is one line.
    void set(std::string_view section, std::string_view key, std::string_view value);

    std::string text() const;

private:
    struct Line {
        std::string text;  // without its line end
        std::string end;   // "\r\n", "\n", "\r", or "" for a last line without one
    };
    enum class Kind { Other, Section, Key };
    struct Parsed {
        Kind kind = Kind::Other;
        std::string_view name;   // section or key name, blanks removed
        std::string_view value;  // key value, blanks removed
    };

    static Parsed parse(std::string_view line, bool first);
    // Index of the first header of that section, or npos.
    std::size_t find_section(std::string_view section) const;
    std::string newline() const;

    std::vector<Line> lines_;
};

// Writes one key by itself: the file is read (missing: empty), the key set and the file
// replaced atomically. Throws IniWriteError with the file's full path on any failure.
void write_profile_string(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view value);

}  // namespace ringolan::setup
