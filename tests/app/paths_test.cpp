#include "app/settings/paths.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "temp_env.h"

namespace ringolan::setup {
namespace {

using testing::ScopedEnv;
namespace fs = std::filesystem;
using testing::TempFolderTest;

class SettingsPathChoice : public TempFolderTest {};

TEST_F(SettingsPathChoice, WritableProgramFolderKeepsTheFileBesideTheProgram) {
    const fs::path prog = root() / "prog";
    fs::create_directory(prog);
    const SettingsPath p = settings_path(prog);
    EXPECT_EQ(p.location, SettingsLocation::ProgramFolder);
    EXPECT_EQ(p.file, prog / "ringolan.ini");
    EXPECT_TRUE(fs::is_empty(prog));  // the probe is gone, and no settings file was made
}

TEST_F(SettingsPathChoice, ProgramFolderWithoutWriteAccessMovesToTheUserConfig) {
    const fs::path expected = root() / "config" / "ringolan" / "ringolan.ini";
    const SettingsPath missing = settings_path(root() / "no-such-folder");
    EXPECT_EQ(missing.location, SettingsLocation::UserConfig);
    EXPECT_EQ(missing.file, expected);
    EXPECT_FALSE(fs::exists(expected.parent_path()));

    // No file can be made in /proc, not even by root.
    const SettingsPath proc = settings_path("/proc");
    EXPECT_EQ(proc.location, SettingsLocation::UserConfig);
    EXPECT_EQ(proc.file, expected);
}

TEST_F(SettingsPathChoice, ReadOnlyProgramFolder) {
    if (is_root()) GTEST_SKIP() << "root may write into read-only folders";
    const fs::path prog = root() / "prog";
    fs::create_directory(prog);
    ::chmod(prog.c_str(), 0555);
    EXPECT_EQ(settings_path(prog).location, SettingsLocation::UserConfig);
    ::chmod(prog.c_str(), 0755);
}

TEST_F(SettingsPathChoice, ConfigFolderFallsBackToDotConfigInHome) {
    const fs::path home_config = root() / "home" / ".config";
    {
        ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
        EXPECT_EQ(xdg_config_home(), home_config);
        EXPECT_EQ(settings_path(root() / "no-such-folder").file,
                  home_config / "ringolan" / "ringolan.ini");
    }
    {
        ScopedEnv relative("XDG_CONFIG_HOME", std::string("relative/config"));
        EXPECT_EQ(xdg_config_home(), home_config);
    }
    {
        ScopedEnv empty("XDG_CONFIG_HOME", std::string(""));
        EXPECT_EQ(xdg_config_home(), home_config);
    }
    EXPECT_EQ(xdg_config_home(), root() / "config");
}

using WebRootChoice = TempFolderTest;

TEST_F(WebRootChoice, BesideTheProgramFirstThenTheInstalledShareFolder) {
    const fs::path bin = root() / "usr" / "bin";
    fs::create_directories(bin);
    EXPECT_EQ(web_root(bin), bin / "Web");  // neither there: the one beside is named

    const fs::path installed = root() / "usr" / "share" / "ringolan" / "Web";
    fs::create_directories(installed);
    EXPECT_EQ(web_root(bin), installed);

    fs::create_directory(bin / "Web");
    EXPECT_EQ(web_root(bin), bin / "Web");
}

}  // namespace
}  // namespace ringolan::setup
