// The text helpers of the dialogs, the file list of a wildcard job, the output-directory
// probe and the browser's directory listing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>

#include "app/files.hpp"
#include "app/text.hpp"
#include "ztest.hpp"

namespace {

using namespace zelk::app;
namespace fs = std::filesystem;

std::string slurp(const fs::path& p) {
    std::ifstream in(p);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

TEST(AppText, BlanksCaseAndNumbers) {
    EXPECT_EQ(DEL_SPACE(" 10 .5 "), "10.5");
    EXPECT_EQ(UPCASE("a1.vxo b"), "A1.VXOB");
    EXPECT_EQ(STR_NUM("10 .5"), 0);
    EXPECT_EQ(STR_NUM("1O.0"), 1);   // letter O
    EXPECT_EQ(STR_NUM("1.0.0"), 1);  // a second point
    EXPECT_EQ(STR_NUM("-1"), 1);
    EXPECT_FLOAT_EQ(read_number("10 .5"), 10.5f);
    EXPECT_FLOAT_EQ(read_number("  "), 0.0f);
    EXPECT_EQ(hstep_text(0.0f), "0.0");
    EXPECT_EQ(hstep_text(10.0f), "10.0");
    EXPECT_EQ(hstep_text(0.5f), "0.5");
    EXPECT_EQ(qpacc_text(0.01f), "0.01");
    // Too wide for the 4 characters of the original field: kept whole, not asterisks.
    EXPECT_EQ(hstep_text(125.0f), "125.0");
}

TEST(AppText, SplitAndMessages) {
    const PathParts p = split_path("/data/day.one/A1.VXO");
    EXPECT_EQ(p.dir, "/data/day.one/");
    EXPECT_EQ(p.name, "A1");
    EXPECT_EQ(p.ext, ".VXO");
    EXPECT_EQ(split_path("/data/*").ext, "");
    EXPECT_EQ(split_path("x.verylongextension").ext, ".verylonge");   // 10 characters
    EXPECT_EQ(message(0), " ERROR: ILLEGAL ENTRY IN INPUT. TRY AGAIN.");
    EXPECT_EQ(message(24).substr(0, 13), " FATAL ERROR:");
    EXPECT_FALSE(message(MESSAGE_NOT_A_FORMAT).empty());
    EXPECT_FALSE(message(MESSAGE_ENUMERATION).empty());
    EXPECT_EQ(message(27), "");
    EXPECT_EQ(message(-1), "");
}

TEST(AppFiles, FileListKeepsCaseAndSkipsWhatIsNotInput) {
    ztest::ScratchDir d;
    for (const char* n : {"b1.vxo", "A1.VXO", "run.EXE", "old.430", "old.arp", "a2.Vxo", "notes.txt"})
        d.write(n, "x\n");
    d.write("empty.VXO", "");
    fs::create_directory(d.file("sub.VXO"));
    const std::string list = d.file("FILELIST.TMP").string();

    ASSERT_EQ(write_filelist({d.str() + "/", "*", ".*"}, list), 0);
    EXPECT_EQ(slurp(list), "A1.VXO\na2.Vxo\nb1.vxo\nnotes.txt\n");
    // Extensions compared without regard to case; the names stay as on disk.
    ASSERT_EQ(write_filelist({d.str() + "/", "*", ".VXO"}, list), 0);
    EXPECT_EQ(slurp(list), "A1.VXO\na2.Vxo\nb1.vxo\n");
    ASSERT_EQ(write_filelist({d.str() + "/", "notes", ".*"}, list), 0);
    EXPECT_EQ(slurp(list), "notes.txt\n");
    // Only .430, .ARP, .EXE, empty files and directories: message 5, and no list left.
    EXPECT_EQ(write_filelist({d.str() + "/", "*", ".430"}, list), 5);
    EXPECT_FALSE(fs::exists(list));
    EXPECT_EQ(write_filelist({d.str() + "/", "empty", ".*"}, list), 5);
    EXPECT_EQ(write_filelist({d.str() + "/none/", "*", ".*"}, list), 1);
}

TEST(AppFiles, OutputDirectoryProbeLeavesNothing) {
    ztest::ScratchDir d;
    d.write("ZELK_TEST", "a user's file of that name");
    EXPECT_TRUE(can_create_in(d.str()));
    EXPECT_TRUE(can_create_in(d.str() + "/"));
    int n = 0;
    for (const auto& e : fs::directory_iterator(d.path())) {
        ++n;
        EXPECT_EQ(e.path().filename(), "ZELK_TEST");
    }
    EXPECT_EQ(n, 1);
    EXPECT_EQ(slurp(d.file("ZELK_TEST")), "a user's file of that name");
    EXPECT_FALSE(can_create_in(d.str() + "/missing"));
    if (::geteuid() != 0) {   // root writes anywhere
        fs::create_directory(d.file("ro"));
        ::chmod(d.file("ro").c_str(), 0555);
        EXPECT_FALSE(can_create_in(d.file("ro").string()));
        ::chmod(d.file("ro").c_str(), 0755);
    }
}

TEST(AppFiles, ListingHidesDotFilesAndKeepsTheFirstThousand) {
    ztest::ScratchDir d;
    fs::create_directory(d.file("sub"));
    fs::create_directory(d.file(".hidden_dir"));
    d.write(".profile", "x");
    for (int i = 0; i < 1005; ++i) {
        char n[32];
        std::snprintf(n, sizeof n, "f%04d.VXO", i);
        d.write(n, "x");
    }
    const Listing l = list_directory(d.str() + "/");
    ASSERT_TRUE(l.ok);
    EXPECT_EQ(l.dirs, std::vector<std::string>{"sub"});
    ASSERT_EQ(l.files.size(), Listing::MAXNAMES);
    EXPECT_EQ(l.total_files, 1005u);
    EXPECT_EQ(l.files.front(), "f0000.VXO");
    EXPECT_EQ(l.files.back(), "f0999.VXO");
    EXPECT_FALSE(list_directory(d.str() + "/missing/").ok);

    const std::vector<std::string> places = start_places();
    ASSERT_GE(places.size(), 2u);
    EXPECT_EQ(places[0], "/");
    EXPECT_NE(std::find(places.begin(), places.end(), fs::current_path().string() + "/"), places.end());
}

}  // namespace

namespace {

TEST(AppText, CommandLine) {
    using zelk::app::check_command_line;
    std::string v;
    EXPECT_EQ(check_command_line({}, v), 0);
    EXPECT_EQ(v, "VS.04.31");
    EXPECT_EQ(check_command_line({"VXO", "VXO", "STANDARD", "OTHER", "VXO  "}, v), 0);
    EXPECT_EQ(v, "VS.04.30");
    EXPECT_EQ(check_command_line({"VXO", "VXO", "VXO", "VXO"}, v), 24);
    EXPECT_EQ(check_command_line({"VXO", "VXO", "VXO", "VXO", "VXO", "VXO"}, v), 24);
    EXPECT_EQ(check_command_line({"VXO", "VXO", "vxo", "VXO", "VXO"}, v), zelk::app::MESSAGE_NOT_A_FORMAT);
}

}  // namespace
