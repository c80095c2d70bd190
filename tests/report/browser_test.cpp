// The report of the example series opened in a real browser (headless Chromium): it renders
// without script errors, shows the colour maps and every series, sorts its table as the URL
// fragment asks, and looks like the committed reference picture.
//
// The reference is tests/data/report/synth-series.png; ZELK_UPDATE_REFERENCE=1 in the
// environment writes it anew from this run instead of comparing (look at it before
// committing it).
#include <gtest/gtest.h>

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <regex>

#include "driver/scratch_test.hpp"
#include "report_read.hpp"

namespace {

namespace fs = std::filesystem;
using ztest::count_of;
using ztest::data_column;
using ztest::shell;
using ztest::slurp_file;

const std::string SOURCE = fs::path(ZELK_TEST_DATA).parent_path().parent_path().string();
const std::string REFERENCE = std::string(ZELK_TEST_DATA) + "/report/synth-series.png";

// Size of the browser window of the screenshot (CSS pixels, one device pixel each).
constexpr int SHOT_W = 1400, SHOT_H = 1500;

struct Image {
    int w = 0, h = 0;
    std::vector<unsigned char> rgb;
};

bool read_png(const std::string& path, Image& img) {
    png_image p{};
    p.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&p, path.c_str())) return false;
    p.format = PNG_FORMAT_RGB;
    img.w = static_cast<int>(p.width);
    img.h = static_cast<int>(p.height);
    img.rgb.resize(PNG_IMAGE_SIZE(p));
    return png_image_finish_read(&p, nullptr, img.rgb.data(), 0, nullptr) != 0;
}

class Browser : public ztest::ScratchTest {
protected:
    void SetUp() override {
        if (shell("command -v chromium > /dev/null 2>&1") != 0) {
            GTEST_SKIP() << "chromium is not installed (scripts/bootstrap installs it): the report is "
                            "not checked in a browser";
        }
        fs::copy_file(SOURCE + "/examples/synth-series.VXO", path("synth-series.VXO"));
        // With the pictures of the records when the program can draw them.
        pictures_ = shell(std::string(ZELK_BATCH_EXE) + " --help | grep -q -- --plots") == 0;
        ASSERT_EQ(shell("cd " + dir + " && " + ZELK_BATCH_EXE + (pictures_ ? " --plots pics" : "") +
                        " --summary s.csv --report r.html synth-series.VXO > stdout 2> stderr"),
                  0)
            << slurp_file(path("stderr"));
    }
    // Runs headless Chromium on the report with the URL fragment and the given mode
    // (--dump-dom, or --screenshot=FILE); returns its standard output.
    std::string chromium(const std::string& fragment, const std::string& mode) const {
        const std::string cmd = "cd " + dir + " && timeout 120 chromium --headless --no-sandbox --disable-gpu " +
                                "--hide-scrollbars --no-first-run --user-data-dir=" + dir + "/profile " +
                                "--window-size=" + std::to_string(SHOT_W) + "," + std::to_string(SHOT_H) +
                                " " + mode + " 'file://" + dir + "/r.html" + fragment +
                                "' > out.txt 2> browser.txt";
        EXPECT_EQ(shell(cmd), 0) << slurp_file(path("browser.txt"));
        return slurp_file(path("out.txt"));
    }
    bool pictures_ = false;
    // The records of the table in the order shown (their indices in the data).
    static std::vector<size_t> table_rows(const std::string& dom) {
        std::vector<size_t> rows;
        const std::regex row("<tr data-row=\"([0-9]+)\">");
        for (auto it = std::sregex_iterator(dom.begin(), dom.end(), row); it != std::sregex_iterator(); ++it) {
            rows.push_back(std::stoul((*it)[1]));
        }
        return rows;
    }
};

TEST_F(Browser, RendersWithoutErrorsAndSortsItsTable) {
    const std::string page = slurp_file(path("r.html"));
    const auto foF2 = data_column(page, "foF2");
    const auto time = data_column(page, "time");
    const size_t n = foF2.size();
    ASSERT_EQ(n, 288u);

    std::string dom = chromium("#sort=foF2", "--dump-dom");
    // The script ran to its end and no error was reported.
    EXPECT_TRUE(std::regex_search(dom, std::regex("<div id=\"report-status\"( data-ms=\"[0-9]+\")?>ok</div>")))
        << dom.substr(0, 2000);
    EXPECT_NE(dom.find("<div id=\"report-errors\"></div>"), std::string::npos);
    // The six stations of the series, each with its two colour maps and nine series plots,
    // as in the page (the points of each series are checked against the data elsewhere).
    const size_t stations = count_of(page, "<section class=\"station\"");
    EXPECT_EQ(stations, 6u);
    EXPECT_EQ(count_of(dom, "<svg class=\"map freq\""), stations);
    EXPECT_EQ(count_of(dom, "<svg class=\"map density\""), stations);
    EXPECT_EQ(count_of(dom, "<svg class=\"series\""), 9 * stations);
    const std::regex npoints("data-q=\"([A-Za-z0-9]+)\" data-station=\"[^\"]*\" data-n=\"([0-9]+)\"");
    std::vector<std::string> in_page, in_dom;
    for (auto it = std::sregex_iterator(page.begin(), page.end(), npoints); it != std::sregex_iterator(); ++it)
        in_page.push_back(it->str());
    for (auto it = std::sregex_iterator(dom.begin(), dom.end(), npoints); it != std::sregex_iterator(); ++it)
        in_dom.push_back(it->str());
    EXPECT_EQ(in_dom, in_page);

    // Sorted by foF2, rising, the records without it last.
    std::vector<size_t> rows = table_rows(dom);
    ASSERT_EQ(rows.size(), n);
    double last = -1.0;
    bool nulls = false;
    for (size_t r : rows) {
        if (foF2[r] == "null") {
            nulls = true;
            continue;
        }
        EXPECT_FALSE(nulls) << "a value after the missing ones";
        const double v = std::stod(foF2[r]);
        EXPECT_GE(v, last);
        last = v;
    }
    EXPECT_NE(dom.find("data-key=\"foF2\">foF2 \u25b2</th>"), std::string::npos);

    // Each row links to its record's picture, which the run drew.
    if (pictures_) {
        const std::regex link("<a href=\"(pics/synth-series\\.VXO\\.([0-9]{4})\\.png)\">picture</a>");
        size_t links = 0;
        for (auto it = std::sregex_iterator(dom.begin(), dom.end(), link); it != std::sregex_iterator(); ++it) {
            ++links;
            EXPECT_TRUE(fs::exists(path((*it)[1]))) << (*it)[1];
        }
        EXPECT_EQ(links, n);
    }

    // Sorted by time, falling: ISO times compare as text.
    dom = chromium("#sort=-time", "--dump-dom");
    rows = table_rows(dom);
    ASSERT_EQ(rows.size(), n);
    for (size_t k = 1; k < rows.size(); ++k) EXPECT_GE(time[rows[k - 1]], time[rows[k]]) << k;
}

TEST_F(Browser, LooksLikeTheReference) {
    chromium("", "--screenshot=" + dir + "/shot.png");
    Image shot, ref;
    ASSERT_TRUE(read_png(path("shot.png"), shot));
    ASSERT_EQ(shot.w, SHOT_W);
    ASSERT_EQ(shot.h, SHOT_H);
    if (std::getenv("ZELK_UPDATE_REFERENCE")) {
        fs::create_directories(fs::path(REFERENCE).parent_path());
        fs::copy_file(path("shot.png"), REFERENCE, fs::copy_options::overwrite_existing);
        GTEST_SKIP() << "reference written: " << REFERENCE;
    }
    ASSERT_TRUE(read_png(REFERENCE, ref)) << REFERENCE;
    ASSERT_EQ(ref.w, shot.w);
    ASSERT_EQ(ref.h, shot.h);
    // Within tolerance: at most 0.5 % of the pixels differ by more than 40 levels in a
    // channel (room for the time taken, which changes from run to run, and for small
    // differences of anti-aliasing), and the mean difference is under 1.5 levels.
    size_t differing = 0;
    double sum = 0.0;
    for (size_t p = 0; p < shot.rgb.size(); p += 3) {
        int most = 0;
        for (int c = 0; c < 3; ++c) {
            const int d = std::abs(static_cast<int>(shot.rgb[p + c]) - static_cast<int>(ref.rgb[p + c]));
            most = std::max(most, d);
            sum += d;
        }
        differing += most > 40;
    }
    const double pixels = static_cast<double>(shot.rgb.size() / 3);
    EXPECT_LT(static_cast<double>(differing) / pixels, 0.005) << differing << " pixels differ";
    EXPECT_LT(sum / (3.0 * pixels), 1.5);
}

}  // namespace
