// The settings record of the program and its file "ringolan.ini".
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace ringolan::setup {

// Default of DB/Name. The program this replaces looked in its scoring system's data folder
// on drive C:; here the competition file is expected in the user's own folder:
// $HOME/Ringolan/Wettkampf.mdb (home from the password database when HOME is not set).
std::string default_database_file();

// All strings are 8-bit (Windows-1252), exactly as in the file.
struct Settings {
    std::string DatabaseFile = default_database_file();  // [DB] Name
    bool ServerActive = true;                            // [Webserver] Aktive
    bool HideWhenMinimized = true;                       // [Webserver] taskicon
    bool StartBrowser = false;                           // [Webserver] IE
    std::string StartPicture = "SScheibe.jpg";           // [Startseite] bild
    std::string LinkText = "Aktuelle Termine";           // [Startseite] text
    std::string LinkTarget = "Termine.htm";              // [Startseite] html
    // The publishing site of the upload tab.
    std::string SiteAccountId;                           // [IT-Upload] Konto
    std::string SiteAddress;                             // [IT-Upload] Adresse (http:// or https://)
    std::string SitePassword;                            // [IT-Upload] Passwort (as typed, plain)
    // Live publishing switched on: the key is written only once it was on, so files of those
    // who never used it stay as they were.
    bool SiteLive = false;                               // [IT-Upload] Live

    // Every field from the file; a missing file or key, or a boolean that is no number,
    // gives the field's default.
    static Settings load(const std::filesystem::path& file);

    // Writes every field, key by key (booleans as "1" and "0"); other sections, keys and
    // lines of the file stay as they are. A missing file is created, and a missing folder
    // too. Throws IniWriteError at the first key that cannot be written; keys written
    // before stay written.
    void save(const std::filesystem::path& file) const;

    bool operator==(const Settings&) const = default;
};

// The file-name part of a chosen file: everything after the last "\", ":" or "/".
// The start picture and link target are kept in this form.
std::string bare_file_name(std::string_view chosen);

}  // namespace ringolan::setup
