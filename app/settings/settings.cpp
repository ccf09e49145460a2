#include "app/settings/settings.h"

#include <system_error>

#include "app/settings/ini_file.h"
#include "app/settings/paths.h"

namespace ringolan::setup {

std::string default_database_file() {
    const std::string home = home_folder().string();
    return (home.empty() ? std::string("Ringolan/Wettkampf.mdb")
                         : home + "/Ringolan/Wettkampf.mdb");
}

Settings Settings::load(const std::filesystem::path& file) {
    const IniFile ini = IniFile::load(file);
    const Settings defaults;
    Settings s;
    s.DatabaseFile = ini.read_string("DB", "Name", defaults.DatabaseFile);
    s.ServerActive = ini.read_bool("Webserver", "Aktive", defaults.ServerActive);
    s.HideWhenMinimized = ini.read_bool("Webserver", "taskicon", defaults.HideWhenMinimized);
    s.StartBrowser = ini.read_bool("Webserver", "IE", defaults.StartBrowser);
    s.StartPicture = ini.read_string("Startseite", "bild", defaults.StartPicture);
    s.LinkText = ini.read_string("Startseite", "text", defaults.LinkText);
    s.LinkTarget = ini.read_string("Startseite", "html", defaults.LinkTarget);
    s.SiteAccountId = ini.read_string("IT-Upload", "Konto", defaults.SiteAccountId);
    s.SiteAddress = ini.read_string("IT-Upload", "Adresse", defaults.SiteAddress);
    s.SitePassword = ini.read_string("IT-Upload", "Passwort", defaults.SitePassword);
    s.SiteLive = ini.read_bool("IT-Upload", "Live", defaults.SiteLive);
    return s;
}

void Settings::save(const std::filesystem::path& file) const {
    if (file.has_parent_path()) {
        std::error_code ec;  // a folder that cannot be made shows up as a write failure
        std::filesystem::create_directories(file.parent_path(), ec);
    }
    auto flag = [](bool b) { return b ? "1" : "0"; };
    write_profile_string(file, "DB", "Name", DatabaseFile);
    write_profile_string(file, "Webserver", "Aktive", flag(ServerActive));
    write_profile_string(file, "Webserver", "IE", flag(StartBrowser));
    write_profile_string(file, "Webserver", "taskicon", flag(HideWhenMinimized));
    write_profile_string(file, "Startseite", "bild", StartPicture);
    write_profile_string(file, "Startseite", "text", LinkText);
    write_profile_string(file, "Startseite", "html", LinkTarget);
    write_profile_string(file, "IT-Upload", "Konto", SiteAccountId);
    write_profile_string(file, "IT-Upload", "Adresse", SiteAddress);
    write_profile_string(file, "IT-Upload", "Passwort", SitePassword);
    if (SiteLive || IniFile::load(file).find("IT-Upload", "Live"))
        write_profile_string(file, "IT-Upload", "Live", flag(SiteLive));
}

std::string bare_file_name(std::string_view chosen) {
    const std::size_t cut = chosen.find_last_of("\\:/");
    return std::string(cut == std::string_view::npos ? chosen : chosen.substr(cut + 1));
}

}  // namespace ringolan::setup
