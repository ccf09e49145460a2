#include "app/settings/ini_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "temp_env.h"

namespace ringolan::setup {
namespace {

namespace fs = std::filesystem;
using testing::TempFolderTest;

TEST(ProfileInteger, DecimalWithOptionalSign) {
    EXPECT_EQ(parse_profile_integer("0"), 0);
    EXPECT_EQ(parse_profile_integer("2"), 2);
    EXPECT_EQ(parse_profile_integer("007"), 7);
    EXPECT_EQ(parse_profile_integer("-1"), -1);
    EXPECT_EQ(parse_profile_integer("+12"), 12);
    EXPECT_EQ(parse_profile_integer("-0"), 0);
    EXPECT_EQ(parse_profile_integer("2147483647"), INT_MAX);
    EXPECT_EQ(parse_profile_integer("-2147483648"), INT_MIN);
}

TEST(ProfileInteger, HexadecimalOnlyAfterZeroX) {
    EXPECT_EQ(parse_profile_integer("0x0"), 0);
    EXPECT_EQ(parse_profile_integer("0X1f"), 31);
    EXPECT_EQ(parse_profile_integer("0x10"), 16);
    EXPECT_EQ(parse_profile_integer("0x7FFFFFFF"), INT_MAX);
    EXPECT_EQ(parse_profile_integer("0xFFFFFFFF"), -1);  // 32 bits, wrapped
    EXPECT_EQ(parse_profile_integer("0x00000000010"), 16);
}

TEST(ProfileInteger, AnythingElseIsNoNumber) {
    for (const char* text : {"", "yes", "true", "Wahr", "x10", "$10", "0x", "0X", "0xg", "0x 1",
                             "-0x1", "1.0", "1 2", "- 1", "12abc", "+", "-", "1e3",
                             "2147483648", "-2147483649", "99999999999", "0x100000000"})
        EXPECT_EQ(parse_profile_integer(text), std::nullopt) << '"' << text << '"';
}

TEST(IniRead, NamesIgnoreCaseAndBlanksAroundNamesAndValues) {
    const IniFile ini("[webserver]\r\n  AKTIVE = 0 \r\n\tIe\t=\t2\r\n  [STARTSEITE]\r\nBild=a b.gif\r\n");
    EXPECT_FALSE(ini.read_bool("Webserver", "Aktive", true));
    EXPECT_TRUE(ini.read_bool("Webserver", "IE", false));
    EXPECT_EQ(ini.read_string("Startseite", "bild", "x"), "a b.gif");  // inner blank stays
}

TEST(IniRead, MissingSectionOrKeyAndNonNumbersGiveTheFallback) {
    const IniFile ini("[Webserver]\nAktive=yes\nIE=\ntaskicon=0x0\n[DB]\n");
    EXPECT_TRUE(ini.read_bool("Webserver", "Aktive", true));
    EXPECT_FALSE(ini.read_bool("Webserver", "Aktive", false));
    EXPECT_EQ(ini.read_integer("Webserver", "IE", 5), 5);  // empty value
    EXPECT_FALSE(ini.read_bool("Webserver", "taskicon", true));
    EXPECT_EQ(ini.read_string("DB", "Name", "dflt"), "dflt");        // empty section
    EXPECT_EQ(ini.read_string("Nirgends", "Name", "dflt"), "dflt");  // no section
    EXPECT_EQ(ini.find("Webserver", "Name"), std::nullopt);
    EXPECT_EQ(ini.find("Webserver", "IE"), "");  // present but empty is not missing
    EXPECT_EQ(IniFile().read_string("DB", "Name", "dflt"), "dflt");
}

TEST(IniRead, KeysBelongOnlyToTheirOwnSection) {
    const IniFile ini(
        "Name=before any section\n"
        "[Other]\nName=other\n"
        "[DB]\n;Name=commented\nName\nName=real\nName=second\n"
        "[db]\nName=duplicate section\n");
    EXPECT_EQ(ini.read_string("DB", "Name", ""), "real");
    EXPECT_EQ(ini.read_string("Other", "Name", ""), "other");
    EXPECT_EQ(ini.find("Startseite", "Name"), std::nullopt);
}

TEST(IniRead, EnclosingQuotesAreRemovedOnce) {
    const IniFile ini("[S]\na=\"x y\"\nb='z'\nc=\"mixed'\nd=\"\"\"\"\ne=\"\nf=say \"hi\"\n");
    EXPECT_EQ(ini.read_string("S", "a", ""), "x y");
    EXPECT_EQ(ini.read_string("S", "b", ""), "z");
    EXPECT_EQ(ini.read_string("S", "c", ""), "\"mixed'");
    EXPECT_EQ(ini.read_string("S", "d", ""), "\"\"");
    EXPECT_EQ(ini.read_string("S", "e", ""), "\"");
    EXPECT_EQ(ini.read_string("S", "f", ""), "say \"hi\"");
}

TEST(IniRead, StringsAreCutAt2047Bytes) {
    std::string exact(2047, 'a');
    std::string longer;
    for (int i = 0; i < 3000; ++i) longer += char('0' + i % 10);
    const IniFile ini("[S]\nexact=" + exact + "\nlong=" + longer + "\n");
    EXPECT_EQ(ini.read_string("S", "exact", ""), exact);
    EXPECT_EQ(ini.read_string("S", "long", ""), longer.substr(0, 2047));
}

TEST(IniRead, AllLineEndsAndWindows1252BytesAsTheyStand) {
    const IniFile crlf("[S]\r\nk=\xC4rger \xFC\r\n");
    const IniFile lf("[S]\nk=\xC4rger \xFC");
    const IniFile cr("[S]\rk=\xC4rger \xFC\r");
    for (const IniFile* ini : {&crlf, &lf, &cr}) EXPECT_EQ(ini->find("S", "k"), "\xC4rger \xFC");
}

TEST(IniWrite, ReplacingAValueChangesOnlyItsLine) {
    const std::string before =
        "; Einstellungen\r\n"
        "[DB]\r\n"
        "Name=C:\\alt.mdb\r\n"
        "\r\n"
        "[Webserver]\r\n"
        "  aktive = 1   \r\n"
        "Port=80\r\n";
    IniFile ini(before);
    ini.set("webserver", "Aktive", "0");
    EXPECT_EQ(ini.text(),
              "; Einstellungen\r\n"
              "[DB]\r\n"
              "Name=C:\\alt.mdb\r\n"
              "\r\n"
              "[Webserver]\r\n"
              "  aktive=0\r\n"
              "Port=80\r\n");
    IniFile untouched(before);
    EXPECT_EQ(untouched.text(), before);
}

TEST(IniWrite, MissingKeyGoesAfterTheLastKeyOfItsSection) {
    IniFile ini("[DB]\nName=x\n\n; Server\n[Webserver]\nAktive=1\n");
    ini.set("DB", "Extra", "y");
    ini.set("Webserver", "IE", "0");
    EXPECT_EQ(ini.text(), "[DB]\nName=x\nExtra=y\n\n; Server\n[Webserver]\nAktive=1\nIE=0\n");

    IniFile empty_section("[A]\n[B]\nk=1\n");
    empty_section.set("A", "k", "2");
    EXPECT_EQ(empty_section.text(), "[A]\nk=2\n[B]\nk=1\n");
}

TEST(IniWrite, MissingSectionIsAppendedInTheFilesLineEnds) {
    IniFile lf("[DB]\nName=x");  // no final line end
    lf.set("Startseite", "bild", "logo.gif");
    EXPECT_EQ(lf.text(), "[DB]\nName=x\n\n[Startseite]\nbild=logo.gif\n");

    IniFile fresh;
    fresh.set("DB", "Name", "a.mdb");
    fresh.set("DB", "Name", "b.mdb");
    EXPECT_EQ(fresh.text(), "[DB]\r\nName=b.mdb\r\n");

    IniFile last_key_unterminated("[DB]\r\nName=x");
    last_key_unterminated.set("DB", "Other", "y");
    EXPECT_EQ(last_key_unterminated.text(), "[DB]\r\nName=x\r\nOther=y\r\n");
}

TEST(IniWrite, ValuesStayOnOneLine) {
    IniFile ini;
    ini.set("S", "k", "a\r\nb\nc");
    EXPECT_EQ(ini.text(), "[S]\r\nk=abc\r\n");
}

class IniFileOnDisk : public TempFolderTest {};

TEST_F(IniFileOnDisk, EachWriteCreatesOrUpdatesTheFileAndLeavesNoTemporaryFile) {
    const fs::path file = root() / "ringolan.ini";
    write_profile_string(file, "DB", "Name", "a.mdb");
    write_profile_string(file, "Webserver", "Aktive", "0");
    EXPECT_EQ(read(file), "[DB]\r\nName=a.mdb\r\n\r\n[Webserver]\r\nAktive=0\r\n");
    int entries = 0;
    for (const auto& e : fs::directory_iterator(root())) entries += e.path() != file;
    EXPECT_EQ(entries, 2);  // home and config only
    EXPECT_EQ(IniFile::load(file).read_string("db", "name", ""), "a.mdb");
}

TEST_F(IniFileOnDisk, PermissionsAndSymbolicLinksAreKept) {
    const fs::path real = root() / "real.ini";
    const fs::path link = root() / "ringolan.ini";
    write(real, "[DB]\nName=x\n");
    ::chmod(real.c_str(), 0640);
    fs::create_symlink(real, link);
    write_profile_string(link, "DB", "Name", "y");
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(read(real), "[DB]\nName=y\n");
    struct stat st {};
    ASSERT_EQ(::stat(real.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(IniFileOnDisk, ANewFileIsReadableByItsOwnerOnly) {
    const fs::path file = root() / "neu.ini";
    const mode_t old_mask = ::umask(022);
    write_profile_string(file, "IT-Upload", "Passwort", "geheim");
    ::umask(old_mask);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(IniFileOnDisk, UnwritableFileGivesTheGermanMessageWithTheFullPath) {
    const fs::path dir_in_the_way = root() / "ringolan.ini";
    fs::create_directory(dir_in_the_way);
    try {
        write_profile_string(dir_in_the_way, "DB", "Name", "x");
        FAIL() << "no error";
    } catch (const IniWriteError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "nach " + dir_in_the_way.string() + " kann nicht geschrieben werden");
    }
    const fs::path no_folder = root() / "missing" / "ringolan.ini";
    EXPECT_THROW(write_profile_string(no_folder, "DB", "Name", "x"), IniWriteError);
    EXPECT_FALSE(fs::exists(no_folder.parent_path()));
    // Reading what cannot be read gives the defaults.
    EXPECT_EQ(IniFile::load(dir_in_the_way).read_string("DB", "Name", "d"), "d");
}

TEST_F(IniFileOnDisk, ReadOnlyFileIsNotReplaced) {
    if (is_root()) GTEST_SKIP() << "root may write read-only files";
    const fs::path file = root() / "ringolan.ini";
    write(file, "[DB]\nName=x\n");
    ::chmod(file.c_str(), 0444);
    EXPECT_THROW(write_profile_string(file, "DB", "Name", "y"), IniWriteError);
    EXPECT_EQ(read(file), "[DB]\nName=x\n");
}

}  // namespace
}  // namespace ringolan::setup
