// A temporary folder per test, with HOME and XDG_CONFIG_HOME pointed into it, so no test
// touches the real home.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

namespace ringolan::setup::testing {

namespace fs = std::filesystem;

class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::optional<std::string>& value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        set(value);
    }
    ~ScopedEnv() { set(old_); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    void set(const std::optional<std::string>& value) {
        if (value)
            ::setenv(name_, value->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    const char* name_;
    std::optional<std::string> old_;
};

class TempFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "ringolan-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        root_ = tmpl;
        fs::create_directories(root_ / "home");
        fs::create_directories(root_ / "config");
        home_.emplace("HOME", (root_ / "home").string());
        xdg_.emplace("XDG_CONFIG_HOME", (root_ / "config").string());
    }
    void TearDown() override {
        xdg_.reset();
        home_.reset();
        std::error_code ec;
        fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    const fs::path& root() const { return root_; }

    static void write(const fs::path& file, const std::string& bytes) {
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << bytes;
        ASSERT_TRUE(out.good()) << file;
    }
    static std::string read(const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    static bool is_root() { return ::geteuid() == 0; }

    std::optional<ScopedEnv> home_;
    std::optional<ScopedEnv> xdg_;

private:
    fs::path root_;
};

}  // namespace ringolan::setup::testing
