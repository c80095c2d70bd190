// The batch program end to end on synthetic ionograms: every record through the reader,
// the preparation, the inversion and its products, the record update and the writer.
#include <gtest/gtest.h>


#include <algorithm>
#include <filesystem>
#include <memory>
#include <sstream>

#include "fake_steps.hpp"
#include "scratch_test.hpp"
#include "iondata/vxo.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::slurp;

const std::string DATA = ZELK_TEST_DATA;

class EndToEnd : public ztest::ScratchTest {
protected:
    std::vector<std::string> lines(const std::string& file) const {
        std::istringstream in(slurp(file));
        std::vector<std::string> v;
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }
};

// Fields of a CSV line without quoted fields.
std::vector<std::string> fields(const std::string& line) {
    std::vector<std::string> f;
    std::string cell;
    std::istringstream in(line);
    while (std::getline(in, cell, ',')) f.push_back(cell);
    if (!line.empty() && line.back() == ',') f.emplace_back();
    return f;
}

TEST_F(EndToEnd, EveryRecordInvertedWrittenAndSummarised) {
    ASSERT_EQ(batch("--hstep 10 --qpacc 0.01 -o " + path("out.VXO") + " --summary " + path("s.csv") +
                    " " + DATA + "/synth-small.VXO"), 0) << slurp(path("stderr"));
    EXPECT_NE(slurp(path("stderr")).find("10 records inverted from 1 file, 10 written"), std::string::npos);

    // The output lists as ten whole layout-5 records with prefixed "FE" stamps.
    ASSERT_EQ(batch("--inspect " + path("out.VXO")), 0);
    const auto listing = lines(path("stdout"));
    ASSERT_EQ(listing.size(), 11u);
    for (size_t i = 1; i < listing.size(); ++i) {
        const auto f = fields(listing[i]);
        ASSERT_EQ(f.size(), 12u) << listing[i];
        EXPECT_EQ(f[2], "5");
        EXPECT_EQ(f[4].substr(0, 2), "FE");
        EXPECT_EQ(f[4].size(), 77u);
        EXPECT_EQ(f[6], "ok");
        EXPECT_FALSE(f[7].empty());
    }

    const auto rows = lines(path("s.csv"));
    ASSERT_EQ(rows.size(), 11u);
    const auto head = fields(rows[0]);
    int inverted = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        const auto f = fields(rows[i]);
        ASSERT_EQ(f.size(), head.size()) << rows[i];
        EXPECT_EQ(f[1], std::to_string(i));
        EXPECT_EQ(rows[i].find("9999"), std::string::npos) << rows[i];
        if (f[5] == "2") {
            ++inverted;
            EXPECT_EQ(f[6], "profile inverted");
            for (size_t c = 11; c <= 13; ++c) EXPECT_FALSE(f[c].empty()) << head[c] << ": " << rows[i];
        }
    }
    EXPECT_GE(inverted, 8);

    // The summary carries the values of the output records: characteristics 1, 2, 9, 15,
    // 32 to 34, 37, 39 to 43, with the missing ones empty.
    zelk::fio::LineReader in;
    ASSERT_TRUE(in.open(path("out.VXO")));
    auto rec = std::make_unique<zelk::iondata::IonogramRecord>();
    const std::vector<std::pair<std::string, int>> columns = {
        {"foF2", 1}, {"foF1", 2}, {"foE", 9}, {"hmE", 15}, {"hmF2", 32}, {"hmF1", 33},
        {"hhalf", 34}, {"yF2", 37}, {"TEC", 39}, {"H_top", 40}, {"B0", 41}, {"B1", 42}, {"D1", 43}};
    int32_t IEOF = 0;
    int16_t LREAD = 0, LBAD = 0;
    for (size_t i = 1; i < rows.size(); ++i) {
        READVXO(IEOF, in, *rec, LREAD, LBAD);
        ASSERT_EQ(LBAD, 0);
        const auto f = fields(rows[i]);
        for (const auto& [name, k] : columns) {
            const size_t c = static_cast<size_t>(std::find(head.begin(), head.end(), name) - head.begin());
            ASSERT_LT(c, f.size()) << name;
            const float v = rec->SCALED(k);
            const bool missing = v >= 9998.5f || v <= 0.0f || ((k == 1 || k == 9) && v >= 99.0f) ||
                                 (k == 2 && v > 50.0f);
            if (missing) {
                EXPECT_TRUE(f[c].empty()) << name << " of record " << i << ": " << f[c] << " / " << v;
            } else {
                ASSERT_FALSE(f[c].empty()) << name << " of record " << i << ": " << v;
                EXPECT_NEAR(std::stod(f[c]), v, 0.006) << name << " of record " << i;
            }
        }
    }
}

TEST_F(EndToEnd, SeveralFilesWithBadOnesAmongThem) {
    fs::create_directory(path("in"));
    for (const char* name : {"synth-small.VXO", "synth-small-bad.VXO", "day0.VXO", "bad/letter.VXO"}) {
        fs::copy_file(DATA + "/" + name, path("in/" + fs::path(name).filename().string()));
    }
    ASSERT_EQ(batch("-o " + path("out") + " --summary " + path("s.jsonl") + " '" + path("in") + "/*.VXO'"), 0)
        << slurp(path("stderr"));
    const std::string err = slurp(path("stderr"));
    EXPECT_NE(err.find("synth-small-bad.VXO: 1 bad record skipped (record 3 at line 65: group 7 does not decode), 9 read"),
              std::string::npos) << err;
    EXPECT_NE(err.find("letter.VXO: 1 bad record skipped (record 1 at line 1: group 4 does not decode), 1 read"),
              std::string::npos) << err;
    EXPECT_NE(err.find("day0.VXO: record 1 ends the file"), std::string::npos) << err;
    EXPECT_NE(err.find("20 records inverted from 4 files, 20 written, 2 bad skipped"), std::string::npos) << err;
    std::vector<std::string> outputs;
    for (const auto& e : fs::directory_iterator(path("out"))) outputs.push_back(e.path().filename().string());
    std::sort(outputs.begin(), outputs.end());
    EXPECT_EQ(outputs, (std::vector<std::string>{"letter.VXO.430", "synth-small-bad.VXO.430", "synth-small.VXO.430"}));
    EXPECT_EQ(lines(path("s.jsonl")).size(), 20u);
}

}  // namespace
