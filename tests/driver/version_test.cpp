// --version of the batch program and the version file beside a summary.
#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>

#include "driver/version.hpp"
#include "fake_steps.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::slurp;

const std::string EXAMPLE = std::string(ZELK_SOURCE_DATA) + "/../examples/midlat-day.VXO";

class Version : public ztest::ScratchTest {
protected:
    // Runs the batch program with dir as working directory.
    int batch_in(const std::string& wd, const std::string& args) const {
        return batch_cmd("cd '" + wd + "' && " + std::string(ZELK_BATCH_EXE) + " " + args);
    }
    int batch_cmd(const std::string& cmd) const {
        const int rc = std::system((cmd + " > " + path("stdout") + " 2> " + path("stderr")).c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
};

TEST_F(Version, NamesProgramRevisionAndTheDataDirectoryTheLookupUses) {
    // Needs no input, and says nothing on standard error.
    ASSERT_EQ(batch_in(dir, "--version"), 0);
    const std::string out = slurp(path("stdout"));
    EXPECT_EQ(slurp(path("stderr")), "");
    const std::regex form("zelk-batch [0-9]+\\.[0-9]+\nrevision [^ \n]+\ndata directory [^\n]+\n");
    EXPECT_TRUE(std::regex_match(out, form)) << out;
    EXPECT_EQ(out.rfind(std::string("zelk-batch ") + zelk::driver::program_version() + "\n", 0), 0u);

    // Without data files in the working directory, the shipped data directory of the build.
    const fs::path shipped = fs::canonical(ZELK_SOURCE_DATA);
    EXPECT_NE(out.find("data directory " + shipped.string() + "\n"), std::string::npos) << out;

    // ZELK_DATA comes before it, the working directory before both.
    fs::create_directories(path("alt"));
    fs::copy_file(shipped / "SUNSPT.ASC", path("alt/SUNSPT.ASC"));
    fs::create_directories(path("wd"));
    fs::copy_file(shipped / "SUNSPT.ASC", path("wd/SUNSPT.ASC"));
    ASSERT_EQ(batch_cmd("cd '" + dir + "' && ZELK_DATA='" + path("alt") + "' " + ZELK_BATCH_EXE + " --version"), 0);
    EXPECT_NE(slurp(path("stdout")).find("data directory " + fs::canonical(path("alt")).string() + "\n"),
              std::string::npos) << slurp(path("stdout"));
    ASSERT_EQ(batch_cmd("cd '" + path("wd") + "' && ZELK_DATA='" + path("alt") + "' " + ZELK_BATCH_EXE + " --version"), 0);
    EXPECT_NE(slurp(path("stdout")).find("data directory " + fs::canonical(path("wd")).string() + "\n"),
              std::string::npos) << slurp(path("stdout"));
}

TEST_F(Version, SummaryKeepsItsHeaderFirstAndGetsTheVersionBeside) {
    ASSERT_EQ(batch_in(dir, "--version"), 0);
    const std::string version = slurp(path("stdout"));
    for (const std::string name : {"s.csv", "s.jsonl"}) {
        ASSERT_EQ(batch_in(dir, "--summary " + name + " '" + EXAMPLE + "'"), 0) << slurp(path("stderr"));
        EXPECT_EQ(slurp(path(name + ".version")), version) << name;
    }
    EXPECT_EQ(slurp(path("s.csv")).rfind("file,record,station,", 0), 0u);
    EXPECT_EQ(slurp(path("s.jsonl")).rfind("{\"file\":", 0), 0u);
}

TEST_F(Version, SummaryWhoseVersionFileCannotBeWrittenIsNotLeft) {
    // A directory where the version file should go: the summary is refused as a whole.
    fs::create_directories(path("s.csv.version/x"));
    EXPECT_EQ(batch_in(dir, "--summary s.csv '" + EXAMPLE + "'"), 4);
    EXPECT_FALSE(fs::exists(path("s.csv")));
    EXPECT_NE(slurp(path("stderr")).find("s.csv.version"), std::string::npos) << slurp(path("stderr"));
    for (const auto& e : fs::directory_iterator(dir)) {
        EXPECT_NE(e.path().filename().string().rfind(".s.csv", 0), 0u) << "temporary left: " << e.path();
    }
}

}  // namespace
