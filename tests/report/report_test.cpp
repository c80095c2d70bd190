// The run report: the decimation of the colour map in time, the page for the edge cases of a
// run (nothing inverted, one record, several stations, records out of time order, a gap of
// days), and the report of real runs read back against the summary.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <regex>
#include <filesystem>
#include <map>
#include <sstream>

#include "driver/report.hpp"
#include "report_read.hpp"
#include "driver/scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::driver;
using ztest::count_of;
using ztest::data_column;
using ztest::series_dots;
using ztest::series_points;
using ztest::slurp_file;

const std::string SOURCE = fs::path(ZELK_TEST_DATA).parent_path().parent_path().string();

// A record of station st at time t (seconds since 1970), inverted (with a Chapman-like
// profile peaking at foF2 MHz at 300 km) or with the failure status istat.
ReportRecord make_record(const std::string& st, double t, int16_t istat, double foF2 = 8.0) {
    ReportRecord r;
    r.file = st + ".VXO";
    r.station = st;
    r.station_code = static_cast<int32_t>(st.size());
    r.t = t;
    char buf[40];
    const time_t tt = static_cast<time_t>(t);
    std::tm tm{};
    gmtime_r(&tt, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%SZ", &tm);
    r.time = buf;
    r.istat = istat;
    r.values[4] = {foF2, 3};   // foF2 is scaled whether or not the record inverts
    if (istat == 2) {
        r.values[5] = {300.0, 3};
        r.values[11] = {20.0, 3};
        r.hmF2 = 300.0f;
        r.fn.assign(REPORT_NH, 0);
        for (int k = 0; k < REPORT_NH; ++k) {
            const double h = REPORT_H0 + k * REPORT_DH;
            const double z = (h - 300.0) / 60.0;
            r.fn[k] = static_cast<uint16_t>(1000.0 * foF2 * std::exp(0.5 * (1.0 - z - std::exp(-z))) + 1.0);
        }
    }
    return r;
}

std::string page_of(const std::vector<ReportRecord>& recs) {
    ReportFacts facts;
    facts.inputs = {"in"};
    facts.version = "test";
    std::ostringstream os;
    write_report(os, recs, facts, "report.html");
    return os.str();
}

constexpr double T0 = 1.7e9;   // 2023-11-14

TEST(MapColumns, NearestRecordGapsAndFailures) {
    // A day every 15 minutes, then three days without records, then another day.
    std::vector<double> times;
    std::vector<bool> inverted;
    for (int k = 0; k < 96; ++k) times.push_back(T0 + k * 900.0);
    for (int k = 0; k < 96; ++k) times.push_back(T0 + 4 * 86400.0 + k * 900.0);
    inverted.assign(times.size(), true);
    inverted[10] = false;   // a record that did not invert
    const double t0 = T0 - 450.0, t1 = times.back() + 450.0;
    const int W = 1000;
    const auto cols = map_columns(times, inverted, t0, t1, W);
    ASSERT_EQ(cols.size(), static_cast<size_t>(W));
    const double w = (t1 - t0) / W;
    int blank_in_gap = 0, gap_cols = 0;
    for (int c = 0; c < W; ++c) {
        const double tc = t0 + (c + 0.5) * w;
        if (tc > times[95] + 900.0 && tc < times[96] - 900.0) {
            ++gap_cols;
            blank_in_gap += cols[c] < 0;
        } else if (cols[c] >= 0) {
            // Every column shows the record nearest to its centre.
            for (size_t i = 0; i < times.size(); ++i) {
                ASSERT_LE(std::fabs(times[cols[c]] - tc), std::fabs(times[i] - tc) + 1e-6) << c;
            }
        }
    }
    // The map does not smear across the gap of days.
    EXPECT_GT(gap_cols, 500);
    EXPECT_EQ(blank_in_gap, gap_cols);
    // The record that did not invert shows as blank columns, not as its neighbour.
    int tenth = 0, blank_at_tenth = 0;
    for (int c = 0; c < W; ++c) {
        const double tc = t0 + (c + 0.5) * w;
        if (std::fabs(tc - times[10]) < 0.4 * 900.0) {
            ++tenth;
            blank_at_tenth += cols[c] < 0;
        }
    }
    EXPECT_GT(tenth, 0);
    EXPECT_EQ(blank_at_tenth, tenth);

    // The same records out of time order give the same columns (as indices of the same
    // records).
    std::vector<double> shuffled;
    std::vector<bool> shuffled_inv;
    std::vector<size_t> from;
    for (size_t i = 0; i < times.size(); ++i) from.push_back((i * 37) % times.size());
    for (size_t i : from) {
        shuffled.push_back(times[i]);
        shuffled_inv.push_back(inverted[i]);
    }
    const auto cols2 = map_columns(shuffled, shuffled_inv, t0, t1, W);
    for (int c = 0; c < W; ++c) {
        ASSERT_EQ(cols2[c] < 0 ? -1 : static_cast<int32_t>(from[cols2[c]]), cols[c]) << c;
    }

    // A year of records every 5 minutes is decimated to one record per column.
    std::vector<double> year;
    for (int k = 0; k < 105120; ++k) year.push_back(T0 + k * 300.0);
    const auto ycols = map_columns(year, std::vector<bool>(year.size(), true), year.front(),
                                   year.back(), 1200);
    for (int c = 0; c < 1200; ++c) ASSERT_GE(ycols[c], 0) << c;

    // One record covers three quarters of its plot.
    const auto one = map_columns({T0}, {true}, T0 - 1800.0, T0 + 1800.0, 100);
    int shown = 0;
    for (int32_t c : one) shown += c == 0;
    EXPECT_EQ(shown, 76);
    EXPECT_EQ(median_spacing({5.0, 1.0, 3.0, 3.0, 100.0}), 2.0);
}

TEST(ReportPage, EdgeCasesOfARun) {
    // Nothing inverted: the page says so and draws no colour map, but the series and the
    // marks of the failed records are there.
    std::vector<ReportRecord> failed;
    for (int k = 0; k < 5; ++k) failed.push_back(make_record("ALPHA", T0 + k * 900.0, 8));
    std::string page = page_of(failed);
    EXPECT_NE(page.find("No record of the run was inverted"), std::string::npos);
    EXPECT_NE(page.find("No record of this station was inverted"), std::string::npos);
    EXPECT_EQ(count_of(page, "<svg class=\"map"), 0u);
    EXPECT_EQ(count_of(page, "<svg class=\"series\""), 9u);
    EXPECT_EQ(series_points(page, "foF2", 0), 5);
    EXPECT_NE(page.find("class=\"fail\" data-istat=\"8\" data-n=\"5\""), std::string::npos);
    EXPECT_NE(page.find("<title>F2 trace unreasonable</title>"), std::string::npos);

    // No record at all.
    page = page_of({});
    EXPECT_NE(page.find("No record reached the inversion"), std::string::npos);
    EXPECT_NE(page.find("\"records\":{\n\"file\":[]"), std::string::npos);

    // One record: a map of one column run and every series with its one point.
    page = page_of({make_record("ALPHA", T0, 2)});
    EXPECT_EQ(count_of(page, "<svg class=\"map freq\" data-station=\"ALPHA\" data-columns=\"1\""), 1u);
    for (const char* q : {"foF2", "hmF2", "TEC"}) EXPECT_EQ(series_points(page, q, 0), 1) << q;
    EXPECT_EQ(series_points(page, "foE", 0), 0);

    // Several stations, their records interleaved and out of time order: one section per
    // station in order of appearance, each series in time order.
    std::vector<ReportRecord> mixed;
    for (int k = 5; k >= 0; --k) {
        mixed.push_back(make_record("BETA", T0 + k * 900.0, 2, 5.0 + k));
        mixed.push_back(make_record("ALPHA", T0 + k * 600.0, k == 3 ? 12 : 2, 7.0));
    }
    page = page_of(mixed);
    const auto beta = page.find("<h2>BETA"), alpha = page.find("<h2>ALPHA");
    ASSERT_NE(beta, std::string::npos);
    ASSERT_NE(alpha, std::string::npos);
    EXPECT_LT(beta, alpha);
    EXPECT_EQ(series_points(page, "foF2", 0), 6);
    EXPECT_EQ(series_points(page, "hmF2", 1), 5);   // the failed ALPHA record has no hmF2
    EXPECT_EQ(series_dots(page, "hmF2", 1), 5u);
    // BETA's foF2 rises with time; drawn in time order its line goes up (smaller y) from
    // left to right, one segment after another.
    const auto at = page.find("<path class=\"line\" d=\"", page.find("data-q=\"foF2\""));
    std::istringstream line(page.substr(at + 22, page.find('"', at + 22) - at - 22));
    char cmd = 0;
    double x = 0, y = 0, px = -1, py = 1e9;
    int segments = 0;
    while (line >> cmd >> x >> y) {
        EXPECT_GT(x, px);
        EXPECT_LT(y, py);
        segments += cmd == 'L';
        px = x;
        py = y;
    }
    EXPECT_EQ(segments, 5);
    // The data keep file order.
    EXPECT_EQ(data_column(page, "foF2").front(), "10.000");
    EXPECT_EQ(data_column(page, "station").front(), "0");

    // A gap of days: the line breaks there (two separate lines), and the map's columns do
    // not fill it.
    std::vector<ReportRecord> gap;
    for (int k = 0; k < 4; ++k) gap.push_back(make_record("ALPHA", T0 + k * 900.0, 2));
    for (int k = 0; k < 4; ++k) gap.push_back(make_record("ALPHA", T0 + 3 * 86400.0 + k * 900.0, 2));
    page = page_of(gap);
    const auto fo = page.find("<path class=\"line\" d=\"", page.find("data-q=\"foF2\""));
    const std::string d = page.substr(fo + 22, page.find('"', fo + 22) - fo - 22);
    EXPECT_EQ(count_of(d, "M"), 2u) << d;
    // Eight runs of columns, one per record, and the three days between them blank.
    const std::string runs = "data-columns=\"8\" data-blank=\"";
    const auto map = page.find(runs);
    ASSERT_NE(map, std::string::npos);
    EXPECT_GT(std::strtol(page.c_str() + map + runs.size(), nullptr, 10), 1100);
}

// Runs the batch program in dir on the example series (copied there, so that the report
// names it the same way on every machine).
class RunReport : public ztest::ScratchTest {
protected:
    int run(const std::string& args) const {
        return ztest::shell("cd " + dir + " && " + ZELK_BATCH_EXE + " " + args + " > stdout 2> stderr");
    }
    void copy_example(const std::string& name) const {
        fs::copy_file(SOURCE + "/examples/" + name, dir + "/" + name);
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

TEST_F(RunReport, ValuesAreTheOutputRecordsValues) {
    for (const char* f : {"synth-series.VXO", "midlat-day.VXO", "midlat-night.VXO"}) copy_example(f);
    ASSERT_EQ(run("--hstep 0 --summary s.csv --report r.html synth-series.VXO midlat-day.VXO midlat-night.VXO"), 0)
        << slurp_file(path("stderr"));
    EXPECT_NE(slurp_file(path("stderr")).find(", report r.html"), std::string::npos);
    const std::string page = slurp_file(path("r.html"));
    // The report names the program as the summary's version file does, its lines on one.
    std::string version = slurp_file(path("s.csv.version"));
    ASSERT_NE(version.find("\nrevision "), std::string::npos);
    ASSERT_NE(version.find("\ndata directory "), std::string::npos);
    version.pop_back();
    for (size_t nl; (nl = version.find('\n')) != std::string::npos;) version.replace(nl, 1, "; ");
    EXPECT_NE(page.find("<td id=\"version\">" + version + "</td>"), std::string::npos) << version;
    std::istringstream csv(slurp_file(path("s.csv")));
    std::string line;
    std::getline(csv, line);
    const std::vector<std::string> head = fields(line);
    std::vector<std::vector<std::string>> rows;
    while (std::getline(csv, line)) rows.push_back(fields(line));
    ASSERT_EQ(rows.size(), 290u);

    // Every characteristic of every record, as the summary writes it (null for empty).
    const auto time = data_column(page, "time");
    const auto record = data_column(page, "record");
    const auto istat = data_column(page, "istat");
    ASSERT_EQ(time.size(), rows.size());
    for (size_t i = 0; i < rows.size(); ++i) {
        EXPECT_EQ(record[i], rows[i][1]);
        EXPECT_EQ(time[i], "\"" + rows[i][4] + "\"");
        EXPECT_EQ(istat[i], rows[i][5]);
    }
    for (const char* q : {"foE", "hmE", "foF1", "hmF1", "foF2", "hmF2", "hhalf", "yF2", "B0", "B1", "D1",
                          "TEC", "H_top"}) {
        const auto col = data_column(page, q);
        const size_t c = std::find(head.begin(), head.end(), q) - head.begin();
        ASSERT_LT(c, head.size()) << q;
        ASSERT_EQ(col.size(), rows.size()) << q;
        for (size_t i = 0; i < rows.size(); ++i) {
            EXPECT_EQ(col[i], rows[i][c].empty() ? "null" : rows[i][c]) << q << " record " << i;
        }
    }

    // Every series of every station has a point per record with the value; the inverted
    // stations have their colour map (in plasma frequency and in density), columns and all.
    const auto station = data_column(page, "station");
    std::map<std::string, int> stations;   // station index -> section order
    for (const std::string& s : station) stations.emplace(s, 0);
    ASSERT_GE(stations.size(), 3u);
    EXPECT_EQ(count_of(page, "<svg class=\"map freq\""), stations.size());
    EXPECT_EQ(count_of(page, "<svg class=\"map density\""), stations.size());
    EXPECT_EQ(count_of(page, "data-columns=\"0\""), 0u);
    const std::pair<const char*, const char*> series[] = {
        {"foE", "foE"}, {"foF1", "foF1"}, {"foF2", "foF2"}, {"hmF2", "hmF2"}, {"hmF1", "hmF1"},
        {"HHALF", "hhalf"}, {"B0", "B0"}, {"B1", "B1"}, {"TEC", "TEC"}};
    for (const auto& [label, name] : series) {
        const auto col = data_column(page, name);
        for (int s = 0; s < static_cast<int>(stations.size()); ++s) {
            long n = 0;
            for (size_t i = 0; i < col.size(); ++i) n += station[i] == std::to_string(s) && col[i] != "null";
            EXPECT_EQ(series_points(page, label, s), n) << label << " station " << s;
            EXPECT_EQ(series_dots(page, label, s), static_cast<size_t>(n)) << label << " station " << s;
        }
    }
    // Every record that did not invert is marked, in every series plot of its station.
    long failed = 0, marked = 0;
    for (const std::string& v : istat) failed += v != "2";
    for (size_t at = page.find("class=\"fail\""); at != std::string::npos; at = page.find("class=\"fail\"", at + 1)) {
        marked += std::strtol(page.c_str() + page.find("data-n=\"", at) + 8, nullptr, 10);
    }
    ASSERT_GT(failed, 0);
    EXPECT_EQ(marked, 9 * failed);
}

TEST_F(RunReport, SameWithSeveralJobsAndWrittenWhole) {
    for (const char* f : {"synth-series.VXO", "midlat-day.VXO", "midlat-night.VXO", "equatorial-day.VXO"}) {
        copy_example(f);
    }
    const std::string inputs = " synth-series.VXO midlat-day.VXO midlat-night.VXO equatorial-day.VXO";
    ASSERT_EQ(run("--report r.html" + inputs), 0);
    fs::rename(path("r.html"), path("one.html"));
    ASSERT_EQ(run("--jobs 3 --report r.html" + inputs), 0);
    // Equal but for the time taken and the --jobs option among the facts.
    auto strip = [](std::string p) {
        p = std::regex_replace(p, std::regex("<span id=\"elapsed\">[0-9.]*</span>"), "");
        return std::regex_replace(p, std::regex("--jobs [0-9]+"), "");
    };
    const std::string one = slurp_file(path("one.html"));
    EXPECT_GT(one.size(), 10000u);
    EXPECT_TRUE(strip(one) == strip(slurp_file(path("r.html")))) << "the reports differ";
    EXPECT_NE(one.find("4 files and 4 of them gave records"), std::string::npos);

    // A report that cannot be written is status 4 and leaves nothing behind; a report that
    // would overwrite an input is refused before anything runs.
    EXPECT_EQ(run("--report missing/r.html midlat-day.VXO"), 4);
    EXPECT_NE(slurp_file(path("stderr")).find("missing/r.html: could not be written"), std::string::npos);
    EXPECT_FALSE(fs::exists(path("missing")));
    EXPECT_EQ(run("--report midlat-day.VXO midlat-day.VXO"), 2);
    EXPECT_GT(fs::file_size(path("midlat-day.VXO")), 1000u);
    for (const auto& e : fs::directory_iterator(dir)) {
        EXPECT_NE(e.path().filename().string()[0], '.') << "temporary file left: " << e.path();
    }
}

// A refined run's report has the column mode, with the summary's words, in its data and its
// table; the report of a standard run of the same files has neither.
TEST_F(RunReport, RefinedRunShowsTheModePerRecord) {
    for (const char* f : {"midlat-day.VXO", "midlat-night.VXO"}) copy_example(f);
    const std::string inputs = " midlat-day.VXO midlat-night.VXO";
    ASSERT_EQ(run("--summary s.csv --report s.html" + inputs), 0) << slurp_file(path("stderr"));
    ASSERT_EQ(run("--refine --summary r.csv --report r.html" + inputs), 0) << slurp_file(path("stderr"));
    const std::string standard = slurp_file(path("s.html")), refined = slurp_file(path("r.html"));
    const std::string cols = "['status','status'],['mode','mode']]";
    EXPECT_TRUE(data_column(standard, "mode").empty());
    EXPECT_EQ(standard.find(cols), std::string::npos);
    EXPECT_NE(refined.find(cols), std::string::npos);

    std::istringstream csv(slurp_file(path("r.csv")));
    std::string line;
    std::getline(csv, line);
    ASSERT_TRUE(line.ends_with(",mode")) << line;
    std::vector<std::string> want;
    while (std::getline(csv, line)) want.push_back("\"" + fields(line).back() + "\"");
    ASSERT_EQ(want.size(), 2u);
    EXPECT_EQ(data_column(refined, "mode"), want);
    // The refined mode made some of these profiles.
    EXPECT_NE(std::find(want.begin(), want.end(), "\"refined\""), want.end());
}

}  // namespace

namespace {

// With pictures of the records, the table links to them, relative to the report's directory.
TEST(ReportPage, PictureLinksAreRelativeToTheReport) {
    ReportFacts facts;
    facts.plots = "pics";
    facts.plot_ext = "png";
    std::ostringstream os;
    write_report(os, {make_record("ALPHA", T0, 2)}, facts, "out/report.html");
    EXPECT_NE(os.str().find("\"plots\":\"../pics/\",\"plot_ext\":\"png\""), std::string::npos);
    std::ostringstream none;
    write_report(none, {make_record("ALPHA", T0, 2)}, ReportFacts{}, "report.html");
    EXPECT_NE(none.str().find("\"plots\":null"), std::string::npos);
}

}  // namespace
