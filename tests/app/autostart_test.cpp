#include "app/settings/autostart.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_env.h"

namespace ringolan::setup {
namespace {

using testing::ScopedEnv;
namespace fs = std::filesystem;
using testing::TempFolderTest;

// The Exec line as a launcher reads it: string escapes, then quoting, then "%%".
std::vector<std::string> parse_exec(const std::string& value) {
    std::string s;
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] == '\\' && i + 1 < value.size()) {
            const char c = value[++i];
            s += c == 's' ? ' ' : c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c;
        } else {
            s += value[i];
        }
    }
    std::vector<std::string> args;
    std::string arg;
    bool in_arg = false;
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == ' ') {
            if (in_arg) args.push_back(arg), arg.clear(), in_arg = false;
        } else if (c == '"') {
            in_arg = true;
            for (++i; i < s.size() && s[i] != '"'; ++i) {
                if (s[i] == '\\' && i + 1 < s.size() &&
                    std::string("\"`$\\").find(s[i + 1]) != std::string::npos)
                    ++i;
                else if (s[i] == '%' && i + 1 < s.size() && s[i + 1] == '%')
                    ++i;  // "%%" stands for "%" inside quotes too
                arg += s[i];
            }
            if (i >= s.size()) ADD_FAILURE() << "unclosed quote in " << value;
        } else if (c == '%') {
            in_arg = true;
            if (i + 1 < s.size() && s[i + 1] == '%') ++i;
            else ADD_FAILURE() << "field code in " << value;
            arg += '%';
        } else {
            if (std::string("\t\n'\\><~|&;$*?#()`").find(c) != std::string::npos)
                ADD_FAILURE() << "reserved character outside quotes in " << value;
            in_arg = true;
            arg += c;
        }
    }
    if (in_arg) args.push_back(arg);
    return args;
}

TEST(DesktopExec, QuotesOnlyWhereNeeded) {
    EXPECT_EQ(desktop_exec_value("/opt/ringolan/ringolan"), "/opt/ringolan/ringolan");
    EXPECT_EQ(desktop_exec_value("/opt/Mein Verein/ringolan"), "\"/opt/Mein Verein/ringolan\"");
    EXPECT_EQ(desktop_exec_value("/opt/it's/r"), "\"/opt/it's/r\"");
    EXPECT_EQ(desktop_exec_value("/opt/100%/r"), "/opt/100%%/r");
    // A backslash: escaped inside the quotes, and that escape escaped again for the file.
    EXPECT_EQ(desktop_exec_value("/opt/a\\b/r"), "\"/opt/a\\\\\\\\b/r\"");
    EXPECT_EQ(desktop_exec_value("/opt/$HOME/r"), "\"/opt/\\\\$HOME/r\"");
    EXPECT_EQ(desktop_exec_value("/opt/a\"b/r"), "\"/opt/a\\\\\"b/r\"");
    EXPECT_EQ(desktop_exec_value("/opt/a\tb/r"), "\"/opt/a\\tb/r\"");
}

TEST(DesktopExec, EveryPathReadsBackAsExactlyItself) {
    for (const std::string path :
         {"/usr/bin/ringolan", "/opt/Mein Verein/ringolan", "/x/a\\b\\\\c", "/x/`id`/$(r)",
          "/x/50% & mehr;|<>~*?#", "/x/\"quoted\" 'single'", "/x/tab\there/nl\nhere",
          "/x/M\xC3\xBCller/ringolan", "/x/%%u/%f"}) {
        const std::vector<std::string> args = parse_exec(desktop_exec_value(path));
        ASSERT_EQ(args.size(), 1u) << path;
        EXPECT_EQ(args[0], path);
    }
}

class Autostart : public TempFolderTest {
protected:
    fs::path entry_file() const { return root() / "config" / "autostart" / "korvan-ringolan.desktop"; }
    std::string exec_line() const {
        const std::string text = read(entry_file());
        const std::size_t at = text.find("\nExec=");
        if (at == std::string::npos) return {};
        const std::size_t end = text.find('\n', at + 1);
        return text.substr(at + 6, end - at - 6);
    }
};

TEST_F(Autostart, EntryLivesInTheAutostartFolderOfTheUserConfig) {
    EXPECT_EQ(AutostartEntry().file(), entry_file());
    ScopedEnv unset("XDG_CONFIG_HOME", std::nullopt);
    EXPECT_EQ(AutostartEntry().file(),
              root() / "home" / ".config" / "autostart" / "korvan-ringolan.desktop");
}

TEST_F(Autostart, OnAndOff) {
    const AutostartEntry entry;
    EXPECT_FALSE(entry.exists());

    entry.set(true, "/opt/ringolan/ringolan");
    EXPECT_TRUE(entry.exists());
    const std::string text = read(entry_file());
    EXPECT_TRUE(text.starts_with("[Desktop Entry]\n")) << text;
    EXPECT_NE(text.find("\nType=Application\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nName=Korvan Ringolan\n"), std::string::npos) << text;
    EXPECT_EQ(exec_line(), "/opt/ringolan/ringolan");

    entry.set(false, "/opt/ringolan/ringolan");
    EXPECT_FALSE(entry.exists());
    EXPECT_FALSE(fs::exists(entry_file()));
    EXPECT_NO_THROW(entry.disable());  // already off
}

TEST_F(Autostart, StartRewritesAnExistingEntryWithTheCurrentPath) {
    const AutostartEntry entry;
    entry.enable("/alt/ringolan");
    EXPECT_TRUE(entry.refresh("/neu/Mein Verein/ringolan"));
    EXPECT_EQ(exec_line(), "\"/neu/Mein Verein/ringolan\"");
    EXPECT_EQ(parse_exec(exec_line()), std::vector<std::string>{"/neu/Mein Verein/ringolan"});
}

TEST_F(Autostart, StartWritesNothingWhenTheEntryIsMissingOrSwitchedOff) {
    const AutostartEntry entry;
    EXPECT_FALSE(entry.refresh("/neu/ringolan"));
    EXPECT_FALSE(fs::exists(entry_file().parent_path()));

    fs::create_directories(entry_file().parent_path());
    const std::string hidden = "[Desktop Entry]\nName=Korvan Ringolan\nExec=/alt/ringolan\nHidden=true\n";
    write(entry_file(), hidden);
    EXPECT_FALSE(entry.exists());
    EXPECT_FALSE(entry.refresh("/neu/ringolan"));
    EXPECT_EQ(read(entry_file()), hidden);

    write(entry_file(), "[Desktop Entry]\nExec=/alt/ringolan\nX-GNOME-Autostart-enabled=false\n");
    EXPECT_FALSE(entry.exists());

    entry.enable("/neu/ringolan");  // ticking the box switches it on again
    EXPECT_TRUE(entry.exists());
    EXPECT_EQ(exec_line(), "/neu/ringolan");
}

TEST_F(Autostart, FailuresAreReported) {
    write(root() / "not-a-folder", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", (root() / "not-a-folder").string());
    const AutostartEntry entry;
    EXPECT_FALSE(entry.exists());
    EXPECT_THROW(entry.enable("/opt/ringolan"), std::system_error);
}

}  // namespace
}  // namespace ringolan::setup
