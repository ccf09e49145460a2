// The autostart entry "Korvan Ringolan": an XDG autostart desktop file in the user's
// configuration folder that starts the program when the user logs on. It exists only while
// autostart is on; the settings file holds nothing about it.
#pragma once

#include <filesystem>
#include <string>

namespace ringolan::setup {

inline constexpr char kAutostartName[] = "Korvan Ringolan";

// The Exec value that runs exactly this program file, without arguments: the path as it is
// when it holds no reserved character, else in double quotes with ", `, $ and \ escaped;
// "%" doubled; then the string escapes of desktop files (\\, \n, \t, \r) applied.
std::string desktop_exec_value(const std::filesystem::path& program);

class AutostartEntry {
public:
    // $XDG_CONFIG_HOME/autostart/korvan-ringolan.desktop (see xdg_config_home).
    AutostartEntry();
    explicit AutostartEntry(std::filesystem::path file) : file_(std::move(file)) {}

    const std::filesystem::path& file() const { return file_; }

    // Is autostart on? The file exists and is not switched off by the desktop's own
    // settings (Hidden=true or X-GNOME-Autostart-enabled=false).
    bool exists() const;
    // Writes the entry for this program file (the folder is made when missing).
    void enable(const std::filesystem::path& program) const;
    // Removes the entry; no entry is no error.
    void disable() const;
    // The autostart check box was changed.
    void set(bool on, const std::filesystem::path& program) const {
        on ? enable(program) : disable();
    }
    // At program start: when the entry exists it is written again with this program file,
    // so a program moved to another folder keeps starting. Returns whether it exists;
    // when it does not, nothing is written.
    bool refresh(const std::filesystem::path& program) const;

    // The whole desktop file for this program file.
    static std::string contents(const std::filesystem::path& program);

private:
    std::filesystem::path file_;
};

}  // namespace ringolan::setup
