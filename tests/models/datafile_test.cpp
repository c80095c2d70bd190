// The data-file lookup: working directory, then $ZELK_DATA, then the installed directory.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "ztest.hpp"
#include "platform/datafile.hpp"

namespace zp = zelk::platform;
using ztest::ScratchDir;

namespace {

// Sets or clears an environment variable for the life of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~EnvVar() {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Changes the working directory for the life of the object.
class WorkDir {
public:
    explicit WorkDir(const std::string& dir) : old_(std::filesystem::current_path()) {
        std::filesystem::current_path(dir);
    }
    ~WorkDir() { std::filesystem::current_path(old_); }

private:
    std::filesystem::path old_;
};

}  // namespace

TEST(DataFile, FirstDirectoryHoldingTheFileWins) {
    ScratchDir a, b;
    b.write("ZELKTEST.DAT", "b");
    EXPECT_EQ(zp::data_path("ZELKTEST.DAT", {a.str(), b.str()}), b.file("ZELKTEST.DAT").string());
    a.write("ZELKTEST.DAT", "a");
    EXPECT_EQ(zp::data_path("ZELKTEST.DAT", {a.str(), b.str()}), a.file("ZELKTEST.DAT").string());
    // A directory of that name is not a data file.
    std::filesystem::create_directory(a.file("SUB.DAT"));
    b.write("SUB.DAT", "b");
    EXPECT_EQ(zp::data_path("SUB.DAT", {a.str(), b.str()}), b.file("SUB.DAT").string());
    EXPECT_EQ(zp::data_path("NONE.DAT", {a.str(), b.str()}), "");
    EXPECT_EQ(zp::data_path("ZELKTEST.DAT", {}), "");
    EXPECT_EQ(zp::data_path("", {a.str()}), "");
}

TEST(DataFile, WorkingDirectoryThenEnvironmentThenInstalled) {
    ScratchDir work, env;
    env.write("ZELKTEST.DAT", "env");
    {
        EnvVar var("ZELK_DATA", env.str().c_str());
        const std::vector<std::string> dirs = zp::data_dirs();
        ASSERT_GE(dirs.size(), 2u);
        EXPECT_EQ(dirs[0], ".");
        EXPECT_EQ(dirs[1], env.str());
        WorkDir wd(work.str());
        EXPECT_EQ(zp::data_path("ZELKTEST.DAT"), env.file("ZELKTEST.DAT").string());
        work.write("ZELKTEST.DAT", "work");
        EXPECT_EQ(zp::data_path("ZELKTEST.DAT"), "ZELKTEST.DAT");
    }
    {
        EnvVar var("ZELK_DATA", nullptr);
        const std::vector<std::string> dirs = zp::data_dirs();
        EXPECT_EQ(dirs.front(), ".");
        // working directory, installed directory, and the two places beside the program
        ASSERT_EQ(dirs.size(), 4u);
        EXPECT_TRUE(std::filesystem::path(dirs[1]).is_absolute()) << dirs[1];
    }
    {
        EnvVar var("ZELK_DATA", "");
        EXPECT_EQ(zp::data_dirs().size(), 4u);
    }
}
