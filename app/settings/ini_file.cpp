#include "app/settings/ini_file.h"

#include <system_error>

#include "app/settings/atomic_file.h"
#include "common/ascii.h"
#include "common/number.h"

namespace ringolan::setup {

namespace {

constexpr std::size_t npos = std::string::npos;

using text::trim;

bool same_name(std::string_view a, std::string_view b) { return text::equal_ignoring_case(a, b); }

}  // namespace

std::optional<int32_t> parse_profile_integer(std::string_view text) {
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const auto value = text::parse_number<uint32_t>(text.substr(2), 16);
        if (!value) return std::nullopt;
        return static_cast<int32_t>(*value);
    }
    const auto value = text::parse_whole_number(text);
    if (!value || *value < INT32_MIN || *value > INT32_MAX) return std::nullopt;
    return static_cast<int32_t>(*value);
}

IniFile::IniFile(std::string_view bytes) {
    std::size_t start = 0;
    while (start < bytes.size()) {
        const std::size_t stop = bytes.find_first_of("\r\n", start);
        if (stop == npos) {
            lines_.push_back({std::string(bytes.substr(start)), ""});
            break;
        }
        const std::size_t end_len = bytes.compare(stop, 2, "\r\n") == 0 ? 2 : 1;
        lines_.push_back({std::string(bytes.substr(start, stop - start)),
                          std::string(bytes.substr(stop, end_len))});
        start = stop + end_len;
    }
}

IniFile IniFile::load(const std::filesystem::path& file) {
    try {
        if (auto bytes = read_file_bytes(file)) return IniFile(*bytes);
    } catch (const std::system_error&) {
        // An unreadable file gives the defaults, like a missing one.
    }
    return IniFile();
}

IniFile::Parsed IniFile::parse(std::string_view line, bool first) {
    if (first && line.starts_with("\xEF\xBB\xBF")) line.remove_prefix(3);  // UTF-8 mark
    line = trim(line);
    Parsed p;
    if (line.starts_with('[')) {
        const std::size_t close = line.rfind(']');
        p.kind = Kind::Section;
        p.name = trim(close == npos || close == 0 ? line.substr(1) : line.substr(1, close - 1));
        return p;
    }
    const std::size_t eq = line.find('=');
    if (eq == npos) return p;
    p.kind = Kind::Key;
    p.name = trim(line.substr(0, eq));
    p.value = trim(line.substr(eq + 1));
    return p;
}

std::size_t IniFile::find_section(std::string_view section) const {
    const std::string_view wanted = trim(section);
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text, i == 0);
        if (p.kind == Kind::Section && same_name(p.name, wanted)) return i;
    }
    return npos;
}

std::optional<std::string> IniFile::find(std::string_view section, std::string_view key) const {
    const std::size_t head = find_section(section);
    if (head == npos) return std::nullopt;
    const std::string_view wanted = trim(key);
    for (std::size_t i = head + 1; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text, false);
        if (p.kind == Kind::Section) break;
        if (p.kind != Kind::Key || !same_name(p.name, wanted)) continue;
        std::string_view value = p.value;
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front())
            value = value.substr(1, value.size() - 2);
        return std::string(value.substr(0, kMaxProfileString));
    }
    return std::nullopt;
}

std::string IniFile::read_string(std::string_view section, std::string_view key,
                                 std::string_view fallback) const {
    if (auto value = find(section, key)) return *value;
    return std::string(fallback.substr(0, kMaxProfileString));
}

int32_t IniFile::read_integer(std::string_view section, std::string_view key,
                              int32_t fallback) const {
    const auto value = find(section, key);
    if (!value) return fallback;
    return parse_profile_integer(*value).value_or(fallback);
}

bool IniFile::read_bool(std::string_view section, std::string_view key, bool fallback) const {
    return read_integer(section, key, fallback ? 1 : 0) != 0;
}

std::string IniFile::newline() const {
    for (const Line& line : lines_)
        if (!line.end.empty()) return line.end;
    return "\r\n";  // the line end of the profile files the program has always written
}

void IniFile::set(std::string_view section, std::string_view key, std::string_view value) {
    std::string clean;
    for (char c : value)
        if (c != '\r' && c != '\n') clean += c;
    const std::string_view wanted = trim(key);
    const std::string nl = newline();

    std::size_t head = find_section(section);
    if (head == npos) {
        if (!lines_.empty()) {
            if (lines_.back().end.empty()) lines_.back().end = nl;
            if (!trim(lines_.back().text).empty()) lines_.push_back({"", nl});
        }
        lines_.push_back({"[" + std::string(trim(section)) + "]", nl});
        lines_.push_back({std::string(wanted) + "=" + clean, nl});
        return;
    }

    std::size_t last_key = head;
    for (std::size_t i = head + 1; i < lines_.size(); ++i) {
        const Parsed p = parse(lines_[i].text, false);
        if (p.kind == Kind::Section) break;
        if (p.kind != Kind::Key) continue;
        if (same_name(p.name, wanted)) {
            // Keep the key as it is spelt and indented; replace what follows the "=".
            std::string& text = lines_[i].text;
            std::string_view before(text.data(), text.find('='));
            before = before.substr(0, before.find_last_not_of(" \t") + 1);
            text = std::string(before) + "=" + clean;
            return;
        }
        last_key = i;
    }
    if (lines_[last_key].end.empty()) lines_[last_key].end = nl;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last_key) + 1,
                  Line{std::string(wanted) + "=" + clean, nl});
}

std::string IniFile::text() const {
    std::string out;
    for (const Line& line : lines_) out += line.text + line.end;
    return out;
}

void write_profile_string(const std::filesystem::path& file, std::string_view section,
                          std::string_view key, std::string_view value) {
    try {
        const auto bytes = read_file_bytes(file);
        IniFile ini(bytes.value_or(""));
        ini.set(section, key, value);
        // New settings files are private: they may hold the upload password.
        write_file_atomically(file, ini.text(), 0600);
    } catch (const std::system_error&) {
        std::error_code ec;
        std::filesystem::path full = std::filesystem::absolute(file, ec);
        if (ec) full = file;
        throw IniWriteError("nach " + full.string() + " kann nicht geschrieben werden");
    }
}

}  // namespace ringolan::setup
