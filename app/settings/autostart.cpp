#include "app/settings/autostart.h"

#include <system_error>

#include "app/settings/atomic_file.h"
#include "app/settings/ini_file.h"
#include "app/settings/paths.h"

namespace ringolan::setup {

namespace fs = std::filesystem;

std::string desktop_exec_value(const fs::path& program) {
    const std::string path = program.string();
    std::string arg;
    if (!path.empty() && path.find_first_of(" \t\n\"'\\><~|&;$*?#()`") == std::string::npos) {
        arg = path;
    } else {
        arg = "\"";
        for (char c : path) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') arg += '\\';
            arg += c;
        }
        arg += '"';
    }
    std::string value;
    for (char c : arg) {
        switch (c) {
            case '%': value += "%%"; break;
            case '\\': value += "\\\\"; break;
            case '\n': value += "\\n"; break;
            case '\t': value += "\\t"; break;
            case '\r': value += "\\r"; break;
            default: value += c;
        }
    }
    return value;
}

AutostartEntry::AutostartEntry()
    : file_(xdg_config_home() / "autostart" / "korvan-ringolan.desktop") {}

std::string AutostartEntry::contents(const fs::path& program) {
    return std::string("[Desktop Entry]\n"
                       "Type=Application\n"
                       "Name=") +
           kAutostartName + "\n" + "Exec=" + desktop_exec_value(program) + "\n" +
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

bool AutostartEntry::exists() const {
    std::error_code ec;
    if (!fs::is_regular_file(file_, ec)) return false;
    const IniFile entry = IniFile::load(file_);
    if (entry.find("Desktop Entry", "Hidden") == "true") return false;
    if (entry.find("Desktop Entry", "X-GNOME-Autostart-enabled") == "false") return false;
    return true;
}

void AutostartEntry::enable(const fs::path& program) const {
    if (file_.has_parent_path()) {
        std::error_code ec;
        fs::create_directories(file_.parent_path(), ec);
        if (ec) throw std::system_error(ec, "cannot make " + file_.parent_path().string());
    }
    write_file_atomically(file_, contents(program));
}

void AutostartEntry::disable() const {
    std::error_code ec;
    fs::remove(file_, ec);
    if (ec && ec != std::errc::no_such_file_or_directory)
        throw std::system_error(ec, "cannot remove " + file_.string());
}

bool AutostartEntry::refresh(const fs::path& program) const {
    if (!exists()) return false;
    enable(program);
    return true;
}

}  // namespace ringolan::setup
