#include "app/settings/paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <system_error>
#include <vector>

namespace ringolan::setup {

namespace fs = std::filesystem;

fs::path home_folder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    std::vector<char> buffer(16384);
    struct passwd pw {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::getuid(), &pw, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir)
        return found->pw_dir;
    return {};
}

fs::path xdg_config_home() {
    // Relative values are to be ignored.
    if (const char* dir = std::getenv("XDG_CONFIG_HOME"); dir && *dir == '/') return dir;
    return home_folder() / ".config";
}

fs::path program_file() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    if (ec) throw std::system_error(ec, "cannot find the program file");
    return exe;
}

bool folder_writable(const fs::path& folder) {
    if (::access(folder.c_str(), W_OK | X_OK) != 0) return false;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const fs::path probe = folder / (".ringolan-probe." + std::to_string(::getpid()) + "." +
                                         std::to_string(counter.fetch_add(1)));
        const int fd = ::open(probe.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::close(fd);
            ::unlink(probe.c_str());
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

SettingsPath settings_path(const fs::path& program_dir) {
    if (folder_writable(program_dir))
        return {program_dir / "ringolan.ini", SettingsLocation::ProgramFolder};
    return {xdg_config_home() / "ringolan" / "ringolan.ini", SettingsLocation::UserConfig};
}

fs::path web_root(const fs::path& program_dir) {
    std::error_code ec;
    const fs::path beside = program_dir / "Web";
    if (fs::is_directory(beside, ec)) return beside;
    const fs::path installed = (program_dir.parent_path() / "share" / "ringolan" / "Web").lexically_normal();
    if (fs::is_directory(installed, ec)) return installed;
    return beside;
}

}  // namespace ringolan::setup
