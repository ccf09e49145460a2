#include "app/settings/settings.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/settings/ini_file.h"
#include "app/settings/settings_store.h"
#include "app/settings/start_settings.h"
#include "temp_env.h"

namespace ringolan::setup {
namespace {

namespace fs = std::filesystem;
using testing::TempFolderTest;

class SettingsFile : public TempFolderTest {
protected:
    fs::path ini() const { return root() / "ringolan.ini"; }
};

TEST_F(SettingsFile, WithoutAFileEveryFieldHasItsDefault) {
    const Settings s = Settings::load(ini());
    EXPECT_EQ(s.DatabaseFile, (root() / "home" / "Ringolan" / "Wettkampf.mdb").string());
    EXPECT_TRUE(s.ServerActive);
    EXPECT_TRUE(s.HideWhenMinimized);
    EXPECT_FALSE(s.StartBrowser);
    EXPECT_EQ(s.StartPicture, "SScheibe.jpg");
    EXPECT_EQ(s.LinkText, "Aktuelle Termine");
    EXPECT_EQ(s.LinkTarget, "Termine.htm");
    EXPECT_EQ(s.SiteAccountId, "");
    EXPECT_EQ(s.SiteAddress, "");
    EXPECT_EQ(s.SitePassword, "");
    EXPECT_FALSE(fs::exists(ini()));  // loading creates nothing
}

TEST_F(SettingsFile, BooleansAreNumbersAndAnythingElseKeepsTheDefault) {
    write(ini(), "[Webserver]\r\nAktive=0x0\r\nIE=2\r\ntaskicon=yes\r\n");
    Settings s = Settings::load(ini());
    EXPECT_FALSE(s.ServerActive);
    EXPECT_TRUE(s.StartBrowser);
    EXPECT_TRUE(s.HideWhenMinimized);

    write(ini(), "[Webserver]\r\nAktive=0x\r\nIE= -1 \r\ntaskicon=0X0\r\n");
    s = Settings::load(ini());
    EXPECT_TRUE(s.ServerActive);
    EXPECT_TRUE(s.StartBrowser);
    EXPECT_FALSE(s.HideWhenMinimized);
}

TEST_F(SettingsFile, StringsAreReadAsBytesAndCut) {
    const std::string long_name = "C:\\" + std::string(3000, 'x') + ".mdb";
    write(ini(), "[DB]\nName=" + long_name + "\n[Startseite]\nbild=\ntext=M\xFCller & S\xF6hne\nhtml=a.htm\n");
    const Settings s = Settings::load(ini());
    EXPECT_EQ(s.DatabaseFile, long_name.substr(0, 2047));
    EXPECT_EQ(s.StartPicture, "");  // an empty value is a value, not a missing key
    EXPECT_EQ(s.LinkText, "M\xFCller & S\xF6hne");
    EXPECT_EQ(s.LinkTarget, "a.htm");
}

TEST_F(SettingsFile, SaveIntoANewFileWritesEveryKeyInItsSection) {
    Settings s;
    s.DatabaseFile = "/daten/sport.mdb";
    s.ServerActive = false;
    s.StartBrowser = true;
    s.HideWhenMinimized = false;
    s.StartPicture = "logo.gif";
    s.LinkText = "Ergebnisse \xC4nderungen";
    s.LinkTarget = "";
    s.SiteAccountId = "sv 4711";
    s.SiteAddress = "https://ergebnisse.example:8443";
    s.SitePassword = "a&b#c";
    s.save(ini());
    EXPECT_EQ(read(ini()),
              "[DB]\r\nName=/daten/sport.mdb\r\n"
              "\r\n[Webserver]\r\nAktive=0\r\nIE=1\r\ntaskicon=0\r\n"
              "\r\n[Startseite]\r\nbild=logo.gif\r\ntext=Ergebnisse \xC4nderungen\r\nhtml=\r\n"
              "\r\n[IT-Upload]\r\nKonto=sv 4711\r\nAdresse=https://ergebnisse.example:8443\r\nPasswort=a&b#c\r\n");
    EXPECT_EQ(Settings::load(ini()), s);
}

TEST_F(SettingsFile, SaveLeavesEverythingElseInTheFileAlone) {
    write(ini(),
          "; von Hand\n"
          "[Upload]\n"
          "id=4711\n"
          "[webserver]\n"
          "aktive=0x1\n"
          "Port=8080\n"
          "\n"
          "[DB]\n"
          "NAME = alt.mdb\n");
    Settings s = Settings::load(ini());
    EXPECT_EQ(s.DatabaseFile, "alt.mdb");
    s.DatabaseFile = "neu.mdb";
    s.ServerActive = false;
    s.save(ini());
    EXPECT_EQ(read(ini()),
              "; von Hand\n"
              "[Upload]\n"
              "id=4711\n"
              "[webserver]\n"
              "aktive=0\n"
              "Port=8080\n"
              "IE=0\n"
              "taskicon=1\n"
              "\n"
              "[DB]\n"
              "NAME=neu.mdb\n"
              "\n"
              "[Startseite]\n"
              "bild=SScheibe.jpg\n"
              "text=Aktuelle Termine\n"
              "html=Termine.htm\n"
              "\n"
              "[IT-Upload]\n"
              "Konto=\n"
              "Adresse=\n"
              "Passwort=\n");
}

TEST_F(SettingsFile, SaveMakesAMissingFolderAndReportsAnUnwritableFile) {
    const fs::path nested = root() / "config" / "ringolan" / "ringolan.ini";
    Settings().save(nested);
    EXPECT_TRUE(fs::is_regular_file(nested));

    fs::create_directory(ini());  // a folder where the file should be
    try {
        Settings().save(ini());
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_STREQ(e.what(), ("nach " + ini().string() + " kann nicht geschrieben werden").c_str());
    }
}

TEST_F(SettingsFile, UploadKeysAreReadWithoutRegardToLetterCase) {
    write(ini(), "[it-upload]\r\nkonto=Verein 7\r\nADRESSE=http://127.0.0.1:8080\r\npasswort= x y \r\n");
    const Settings s = Settings::load(ini());
    EXPECT_EQ(s.SiteAccountId, "Verein 7");
    EXPECT_EQ(s.SiteAddress, "http://127.0.0.1:8080");
    EXPECT_EQ(s.SitePassword, "x y");  // blanks around a value are not part of it
}

TEST(BareFileName, KeepsWhatFollowsTheLastSeparator) {
    EXPECT_EQ(bare_file_name("C:\\Bilder\\logo.gif"), "logo.gif");
    EXPECT_EQ(bare_file_name("C:logo.gif"), "logo.gif");
    EXPECT_EQ(bare_file_name("/home/verein/Web/Termine.htm"), "Termine.htm");
    EXPECT_EQ(bare_file_name("a/b\\c:d.jpg"), "d.jpg");
    EXPECT_EQ(bare_file_name("logo.gif"), "logo.gif");
    EXPECT_EQ(bare_file_name("C:\\Bilder\\"), "");
}

TEST_F(SettingsFile, StoreLoadsUpdatesAndSavesTheRecordItHolds) {
    write(ini(), "[Startseite]\r\nbild=alt.jpg\r\n");
    SettingsStore store(ini());
    EXPECT_EQ(store.get().StartPicture, "SScheibe.jpg");  // defaults until loaded
    store.LoadSettings();
    EXPECT_EQ(store.get().StartPicture, "alt.jpg");

    Settings copy = store.get();
    copy.LinkText = "nur die Kopie";
    EXPECT_EQ(store.get().LinkText, "Aktuelle Termine");

    store.update([](Settings& s) { s.StartPicture = bare_file_name("C:\\Bilder\\logo.gif"); });
    EXPECT_EQ(Settings::load(ini()).StartPicture, "alt.jpg");  // not saved yet
    store.SaveSettings();
    EXPECT_EQ(Settings::load(ini()).StartPicture, "logo.gif");
}

TEST(StartSettings, TakesTheThreeStartPageFields) {
    Settings s;
    s.StartPicture = "bild.png";
    s.LinkText = "Text";
    s.LinkTarget = "ziel.htm";
    const pages::StartSettings start = to_start_settings(s);
    EXPECT_EQ(start.StartPicture, "bild.png");
    EXPECT_EQ(start.LinkText, "Text");
    EXPECT_EQ(start.LinkTarget, "ziel.htm");
}

TEST(SettingsStoreThreads, ReadersAlwaysSeeAWholeUpdate) {
    SettingsStore store("/nonexistent/ringolan.ini");
    store.update([](Settings& s) { s.StartPicture = s.LinkText = s.LinkTarget = "a"; });
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0};
    std::vector<std::thread> readers;
    for (int r = 0; r < 3; ++r)
        readers.emplace_back([&] {
            while (!stop) {
                const pages::StartSettings s = current_start_settings(store);
                if (s.LinkText.size() != s.LinkTarget.size() || s.LinkText[0] != s.StartPicture[0])
                    ++torn;
            }
        });
    for (int i = 0; i < 20000; ++i) {
        const std::string text(std::size_t(1 + i % 300), char('a' + i % 26));
        store.update([&](Settings& s) {
            s.StartPicture = text;
            s.LinkText = text;
            s.LinkTarget = text;
        });
    }
    stop = true;
    for (auto& t : readers) t.join();
    EXPECT_EQ(torn, 0);
}

TEST_F(SettingsFile, LiveIsWrittenOnceSwitchedOnAndKeptWhenOff) {
    Settings s;
    s.save(ini());
    EXPECT_EQ(read(ini()).find("Live="), std::string::npos);  // never on: the file as before
    s.SiteLive = true;
    s.save(ini());
    EXPECT_NE(read(ini()).find("Passwort=\r\nLive=1\r\n"), std::string::npos);
    EXPECT_TRUE(Settings::load(ini()).SiteLive);
    s.SiteLive = false;
    s.save(ini());
    EXPECT_NE(read(ini()).find("Passwort=\r\nLive=0\r\n"), std::string::npos);
    EXPECT_FALSE(Settings::load(ini()).SiteLive);
}

}  // namespace
}  // namespace ringolan::setup
