// The committed coefficient files TECCOF and B0B1DT are exactly what their generators make,
// and have the sizes the readers expect.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include <unistd.h>

namespace fs = std::filesystem;

namespace {

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

int lines(const fs::path& p) {
    const std::string s = slurp(p);
    int n = 0;
    for (char c : s) n += (c == '\n');
    return n;
}

// Runs a generator into a fresh directory and compares its outputs with the committed files.
void regenerate_and_compare(const std::string& tool, const std::string& stem) {
    const fs::path exe = fs::path(ZELK_BINARY_DIR) / tool;
    ASSERT_TRUE(fs::exists(exe)) << exe << " is not built";
    const fs::path dir = fs::temp_directory_path() / ("zelk_regen_" + stem + "_" +
                                                      std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string cmd = exe.string() + " " + dir.string() + " > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0);
    for (const char* ext : {".BIN", ".ASC"}) {
        const fs::path made = dir / (stem + ext);
        const fs::path kept = fs::path(ZELK_SOURCE_DATA) / (stem + ext);
        ASSERT_TRUE(fs::exists(made)) << made;
        EXPECT_TRUE(slurp(made) == slurp(kept)) << kept << " differs from what " << tool
                                               << " makes now";
    }
    fs::remove_all(dir);
}

}  // namespace

TEST(CoefficientFiles, CommittedSizes) {
    const fs::path d(ZELK_SOURCE_DATA);
    // TECCOF: 1001 rows of six 4-byte reals; B0B1DT: 501 records of six 4-byte reals.
    EXPECT_EQ(fs::file_size(d / "TECCOF.BIN"), 1001u * 6u * 4u);
    EXPECT_EQ(lines(d / "TECCOF.ASC"), 1001);
    EXPECT_EQ(fs::file_size(d / "TECCOF.ASC"), 1001u * (5u + 5u * 14u + 1u));
    EXPECT_EQ(fs::file_size(d / "B0B1DT.BIN"), 501u * 6u * 4u);
    EXPECT_EQ(lines(d / "B0B1DT.ASC"), 501);
}

TEST(CoefficientFiles, TeccofRegeneratesIdentically) {
    regenerate_and_compare("gen_teccof", "TECCOF");
}

TEST(CoefficientFiles, B0b1dtRegeneratesIdentically) {
    regenerate_and_compare("gen_b0b1dt", "B0B1DT");
}
