// Where the settings file lives, and the per-user folders it may go to.
#pragma once

#include <filesystem>

namespace ringolan::setup {

// $HOME, or the home folder of the password database when HOME is not set.
std::filesystem::path home_folder();

// $XDG_CONFIG_HOME when it is set to an absolute path, else ~/.config.
std::filesystem::path xdg_config_home();

// The running program's file (from /proc/self/exe, so a link it was started by is resolved).
std::filesystem::path program_file();

enum class SettingsLocation {
    ProgramFolder,  // "ringolan.ini" beside the program
    UserConfig,     // $XDG_CONFIG_HOME/ringolan/ringolan.ini
};

struct SettingsPath {
    std::filesystem::path file;
    SettingsLocation location;
};

// "ringolan.ini" in the program's folder when a file can be made there, else the one in the
// user's configuration folder. Only the path is chosen; nothing is created.
SettingsPath settings_path(const std::filesystem::path& program_dir);

// Can a file be made in this folder? Tried by making and removing an empty file, which also
// answers for read-only mounts and access lists.
bool folder_writable(const std::filesystem::path& folder);

// The web root of a program in program_dir: the folder "Web" beside it (build tree, copied
// folder), else PREFIX/share/ringolan/Web of a program installed as PREFIX/bin/NAME. When
// neither is a folder, the one beside the program, so that messages name it.
std::filesystem::path web_root(const std::filesystem::path& program_dir);

}  // namespace ringolan::setup
