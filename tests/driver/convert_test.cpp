// Non-VXO input through the batch program: the Standard examples and the sample converter
// against the VXO originals, the usage errors of --format and --converter, converters that
// fail in every way, and what an interrupted conversion leaves.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "driver/convert.hpp"
#include "iondata/stamp.hpp"
#include "iondata/vxo.hpp"
#include "scratch_test.hpp"

namespace {

namespace fs = std::filesystem;
using namespace zelk::iondata;

const std::string SOURCE = fs::path(ZELK_TEST_DATA).parent_path().parent_path().string();
const std::string EXAMPLES = SOURCE + "/examples";
const std::string CSV2STD = EXAMPLES + "/converter/csv2std";

std::string slurp(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::unique_ptr<IonogramRecord>> records(const std::string& path) {
    std::vector<std::unique_ptr<IonogramRecord>> v;
    LineReader in;
    if (!in.open(path)) return v;
    for (int k = 0; k < 100000; ++k) {
        auto r = std::make_unique<IonogramRecord>();
        int32_t IEOF = 0;
        int16_t LREAD = 0, LBAD = 0;
        READVXO(IEOF, in, *r, LREAD, LBAD);
        if (IEOF == -1) break;
        if (LBAD == 0) v.push_back(std::move(r));
    }
    return v;
}

// The CSV trace table of the sample converter for the records of a Standard file as the
// exporter writes them (station line, constants, date, three blocks closed by END).
std::string standard_to_csv(const std::string& text) {
    std::istringstream in(text);
    std::ostringstream out;
    out << "station,lat,lon,gyro,dip,ssn,time,layer,f,h\n";
    std::string station, consts, line;
    static const char* const LAYER[3] = {"E", "F1", "F2"};
    while (std::getline(in, station)) {
        std::getline(in, consts);
        std::istringstream cs(consts);
        std::string c[5];
        for (std::string& x : c) cs >> x;
        std::getline(in, line);
        std::istringstream ds(line);
        int t[6] = {};
        for (int& x : t) ds >> x;
        char when[40];
        std::snprintf(when, sizeof when, "%04d-%02d-%02dT%02d:%02d:%02d", t[0], t[1], t[2], t[3], t[4], t[5]);
        const std::string pre = station + "," + c[0] + "," + c[1] + "," + c[2] + "," + c[3] + "," + c[4] + "," + when + ",";
        for (const char* L : LAYER) {
            std::getline(in, line);
            if (line != "99") out << pre << L << ',' << line << ",\n";
            while (std::getline(in, line) && line != "END") {
                std::istringstream ps(line);
                std::string f, h;
                ps >> f >> h;
                out << pre << L << ',' << f << ',' << h << '\n';
            }
        }
    }
    return out.str();
}

// Height (km) at which a profile table first reaches plasma frequency fq on its bottomside;
// NaN when it does not.
double height_at(const IonogramRecord& r, double fq) {
    const int n = r.IDX(51);
    int peak = 1;
    for (int i = 1; i <= n; ++i) if (r.PRFFN(i) > r.PRFFN(peak)) peak = i;
    for (int i = 2; i <= peak; ++i) {
        const double f0 = r.PRFFN(i - 1), f1 = r.PRFFN(i);
        if (f0 < fq && f1 >= fq) return r.PRFHT(i - 1) + (r.PRFHT(i) - r.PRFHT(i - 1)) * (fq - f0) / (f1 - f0);
    }
    return std::nan("");
}

class Convert : public ztest::ScratchTest {
protected:
    void SetUp() override { fs::create_directories(tmp); }

    // Runs zelk-batch with TMPDIR in the scratch directory; returns its exit status.
    int run(const std::string& args) const {
        const std::string cmd = "cd " + dir + " && TMPDIR=" + tmp + " " + std::string(ZELK_BATCH_EXE) + " " + args +
                                " > stdout 2> stderr";
        const int rc = std::system(cmd.c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }
    std::string err() const { return slurp(path("stderr")); }
    std::string out() const { return slurp(path("stdout")); }
    bool tmp_empty() const { return fs::is_empty(tmp); }
    // A converter script in the scratch directory.
    std::string script(const std::string& name, const std::string& body, fs::perms mode = fs::perms::owner_all) const {
        const std::string p = path(name);
        std::ofstream(p) << body;
        fs::permissions(p, mode);
        return p;
    }

    const std::string tmp = path("tmp");
};

TEST_F(Convert, UsageErrorsComeBeforeAnyFile) {
    const std::string plain = script("plain.txt", "#!/bin/sh\nexit 0\n", fs::perms::owner_read | fs::perms::owner_write);
    fs::create_directories(path("prog.d"));
    struct Case {
        std::string args, says;
    };
    const std::vector<Case> cases = {
        {"--format other", "--format other needs --converter"},
        {"--format other --converter " + path("missing"), "no such file"},
        {"--format other --converter " + plain, "not executable"},
        {"--format other --converter " + path("prog.d"), "not a regular file"},
        {"--converter " + CSV2STD, "--converter is used with --format other only"},
        {"--format standard --converter " + CSV2STD, "--converter is used with --format other only"},
        {"--format csv", "needs vxo, standard or other"},
        {"--format other --converter " + CSV2STD + " --converter-timeout -1", "a number of seconds"},
        {"--inspect --format other", "--format other needs --converter"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(run(c.args + " -o out " + EXAMPLES + "/converter/"), 2) << c.args;
        EXPECT_NE(err().find(c.says), std::string::npos) << c.args << "\n" << err();
        EXPECT_FALSE(fs::exists(path("out"))) << c.args;
        EXPECT_TRUE(tmp_empty()) << c.args;
    }
}

// Every example record: the Standard export inverted through --format standard against the
// VXO original, and the same records through the sample converter.
TEST_F(Convert, ExamplesRoundTripThroughTheStandardFormatAndTheConverter) {
    ASSERT_EQ(run("--hstep 5 -o vxo " + EXAMPLES + "/midlat-day.VXO " + EXAMPLES + "/midlat-night.VXO " +
                  EXAMPLES + "/equatorial-day.VXO " + EXAMPLES + "/synth-series.VXO"), 0) << err();
    ASSERT_EQ(run("--hstep 5 --format standard -o std " + EXAMPLES + "/standard/"), 0) << err();
    // The only notices: F2 heights above 999 km, which the old layout cannot hold.
    std::istringstream notes(err());
    for (std::string l; std::getline(notes, l);) {
        if (l.find("records inverted") != std::string::npos) continue;
        EXPECT_NE(l.find("with a height of 0 km or less or above 999 km"), std::string::npos) << l;
    }

    // The sample converter on CSV tables of the same records gives the same output files.
    fs::create_directories(path("csv"));
    for (const char* name : {"midlat-day", "midlat-night", "equatorial-day", "synth-series"}) {
        std::ofstream(path("csv/") + name + ".std") << standard_to_csv(slurp(EXAMPLES + "/standard/" + name + ".std"));
    }
    ASSERT_EQ(run("--hstep 5 --format other --converter " + CSV2STD + " -o other --jobs 2 csv/"), 0) << err();

    int plain = 0, moved = 0, total = 0;
    double dh_plain = 0.0, dhm_plain = 0.0, dh_moved = 0.0;
    for (const char* name : {"midlat-day", "midlat-night", "equatorial-day", "synth-series"}) {
        EXPECT_EQ(slurp(path("other/") + name + ".std.430"), slurp(path("std/") + name + ".std.430")) << name;
        const auto orig = records(EXAMPLES + "/" + name + ".VXO");
        const auto a = records(path("vxo/") + name + ".VXO.430");
        const auto b = records(path("std/") + name + ".std.430");
        ASSERT_EQ(a.size(), orig.size()) << name;
        ASSERT_EQ(b.size(), orig.size()) << name;
        for (size_t i = 0; i < orig.size(); ++i) {
            ++total;
            const IonogramRecord& o = *orig[i];
            const IonogramRecord& ra = *a[i];
            const IonogramRecord& rb = *b[i];
            EXPECT_EQ(ra.AFLAGS(2), rb.AFLAGS(2)) << name << " record " << i + 1;   // inversion status
            // Records the conversion changes: a scaled foF1 or foF2 moved onto a frequency
            // line (within a quarter step of it, or any at 0.025 MHz), or virtual heights
            // above 999 km, which the old layout of the converted file cannot hold.
            StampInfo st;
            ASSERT_EQ(decode_stamp(o, st), PREP_OK);
            bool moves = false;
            for (int k = 1; k <= o.IDX(7); ++k) moves = moves || (o.VHOF2(k) > 999.0f && o.VHOF2(k) < 9999.0f);
            for (const float fc : {o.SCALED(1), o.SCALED(2)}) {
                if (!(fc < 50.0f)) continue;
                const double m = std::round(fc / st.FQINCR) * st.FQINCR;
                const double d = std::fabs(m - fc);
                if (d > 0.0005 && (d < 0.25 * st.FQINCR || std::fabs(st.FQINCR - 0.025f) < 1e-6f)) moves = true;
            }
            double dh = 0.0;
            for (double fq = 1.0; fq < 20.0; fq += 0.05) {
                const double ha = height_at(ra, fq), hb = height_at(rb, fq);
                if (!std::isnan(ha) && !std::isnan(hb)) dh = std::max(dh, std::fabs(ha - hb));
            }
            if (moves) {
                ++moved;
                dh_moved = std::max(dh_moved, dh);
                continue;
            }
            ++plain;
            EXPECT_FLOAT_EQ(ra.SCALED(1), rb.SCALED(1)) << name << " record " << i + 1;
            dh_plain = std::max(dh_plain, dh);
            if (ra.SCALED(32) < 9999.0f) dhm_plain = std::max(dhm_plain, static_cast<double>(std::fabs(ra.SCALED(32) - rb.SCALED(32))));
        }
    }
    // Virtual heights are whole kilometres in the Standard file, so they move by 0.5 km at
    // most (the examples' 2.5 km bins by exactly that); the profiles follow within 1 km.
    EXPECT_EQ(total, 291);
    EXPECT_GE(plain, 100);
    EXPECT_LE(dh_plain, 1.0);
    EXPECT_LE(dhm_plain, 1.0);
    std::printf("round trip: %d records, %d with unmoved critical frequencies: max |dh| %.2f km, max |dhmF2| %.2f km; "
                "%d changed by the conversion: max |dh| %.1f km\n",
                total, plain, dh_plain, dhm_plain, moved, dh_moved);
}

TEST_F(Convert, FailingConvertersEndTheRunAndLeaveNothing) {
    const std::string input = path("day.csv");
    fs::copy_file(EXAMPLES + "/converter/midlat-day.csv", input);
    const std::string before = slurp(input);
    const auto mtime = fs::last_write_time(input);
    struct Case {
        const char* what;
        std::string body;
        int status;
        std::string says;
    };
    const std::string good = CSV2STD + " \"$1\" \"$2\"";
    const std::vector<Case> cases = {
        {"exits non-zero after a good file", "#!/bin/sh\n" + good + "\nexit 3\n", 5, "ended with exit status 3"},
        {"writes nothing", "#!/bin/sh\nexit 0\n", 5, "wrote no Standard file"},
        {"writes an empty file", "#!/bin/sh\n: > \"$2\"\n", 5, "wrote an empty Standard file"},
        {"writes garbage", "#!/bin/sh\necho 'no ionogram here' > \"$2\"\n", 1, "no Standard record found"},
        {"never ends", "#!/bin/sh\n" + good + "\nsleep 60\n", 5, "did not end within 1 s"},
        {"writes over its input", "#!/bin/sh\n" + good + "\nchmod u+w \"$1\"\necho garbage > \"$1\"\n", 5,
         "changed or removed the input"},
        {"removes its input", "#!/bin/sh\n" + good + "\nrm -f \"$1\"\n", 5, "changed or removed the input"},
        {"is killed", "#!/bin/sh\nkill -9 $$\n", 5, "ended by signal 9"},
        {"cannot be started: no interpreter", "#!/nonexistent/interpreter\n", 5, "cannot be started"},
        {"cannot be started: not a program", "\x7f" "ELF garbage\n", 5, "cannot be started"},
    };
    for (const Case& c : cases) {
        const std::string conv = script("conv", c.body);
        const auto t0 = std::chrono::steady_clock::now();
        const int status = run("--format other --converter " + conv + " --converter-timeout 1 -o out.430 day.csv");
        const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
        const std::string e = err();
        EXPECT_EQ(status, c.status) << c.what << "\n" << e;
        EXPECT_NE(e.find(c.says), std::string::npos) << c.what << "\n" << e;
        if (c.status == 5) {
            const bool started = std::string(c.what).rfind("cannot be started", 0) != 0;
            EXPECT_NE(e.find(started ? "EXECUTION ERRORS FOUND" : "IS NOT EXECUTABLE"), std::string::npos) << c.what << "\n" << e;
        }
        EXPECT_LT(took, 30.0) << c.what;
        EXPECT_FALSE(fs::exists(path("out.430"))) << c.what;
        EXPECT_TRUE(tmp_empty()) << c.what;
        EXPECT_EQ(slurp(input), before) << c.what;
        EXPECT_EQ(fs::last_write_time(input), mtime) << c.what;
        fs::remove(conv);
    }
}

TEST_F(Convert, AFailingConverterStopsTheFilesAfterIt) {
    fs::create_directories(path("in"));
    for (const char* n : {"a.csv", "b-bad.csv", "c.csv"}) fs::copy_file(EXAMPLES + "/converter/midlat-day.csv", path("in/") + n);
    const std::string conv = script("conv", "#!/bin/sh\ncase \"$1\" in *bad*) exit 4;; esac\nexec " + CSV2STD + " \"$1\" \"$2\"\n");
    for (const char* jobs : {"1", "3"}) {
        fs::remove_all(path("out"));
        EXPECT_EQ(run(std::string("--jobs ") + jobs + " --format other --converter " + conv +
                      " --summary s.csv -o out in/"), 5) << jobs;
        EXPECT_TRUE(fs::exists(path("out/a.csv.430"))) << jobs;
        EXPECT_FALSE(fs::exists(path("out/b-bad.csv.430"))) << jobs;
        EXPECT_FALSE(fs::exists(path("out/c.csv.430"))) << jobs;
        EXPECT_FALSE(fs::exists(path("s.csv"))) << jobs;
        EXPECT_NE(err().find("b-bad.csv: the conversion program"), std::string::npos) << err();
        EXPECT_TRUE(tmp_empty()) << jobs;
    }
}

TEST_F(Convert, InspectListsTheConvertedRecords) {
    ASSERT_EQ(run("--inspect --format standard " + EXAMPLES + "/standard/"), 0) << err();
    std::istringstream rows(out());
    std::string line;
    int n = 0, ok = 0;
    std::getline(rows, line);
    EXPECT_EQ(line, "file,record,version,station,stamp,groups,status,time,step,nE,nF1,nF2");
    while (std::getline(rows, line)) {
        ++n;
        ok += line.find(",ok,") != std::string::npos;
        EXPECT_NE(line.find(".std,"), std::string::npos) << line;
    }
    EXPECT_EQ(n, 291);
    EXPECT_EQ(ok, 291);
    ASSERT_EQ(run("--inspect --format other --converter " + CSV2STD + " " + EXAMPLES + "/converter/midlat-day.csv"), 0) << err();
    EXPECT_NE(out().find("midlat-day.csv,1,0,SYNTH,04167190000"), std::string::npos) << out();
    EXPECT_TRUE(tmp_empty());
}

TEST_F(Convert, AnInterruptedRunStopsTheConverterAndRemovesItsFiles) {
    fs::copy_file(EXAMPLES + "/converter/midlat-day.csv", path("day.csv"));
    const std::string conv = script("conv", "#!/bin/sh\necho $$ > " + path("conv.pid") + "\nsleep 60\n");
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::setenv("TMPDIR", tmp.c_str(), 1);
        const int fd = ::open("/dev/null", O_WRONLY);
        ::dup2(fd, 1);
        ::dup2(fd, 2);
        ::execl(ZELK_BATCH_EXE, ZELK_BATCH_EXE, "--format", "other", "--converter", conv.c_str(), "-o",
                path("out.430").c_str(), path("day.csv").c_str(), static_cast<char*>(nullptr));
        ::_exit(127);
    }
    // Wait until the converter runs, then stop the batch program.
    for (int k = 0; k < 500 && slurp(path("conv.pid")).empty(); ++k) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::string pidtext = slurp(path("conv.pid"));
    ASSERT_FALSE(pidtext.empty());
    EXPECT_FALSE(tmp_empty());
    ::kill(pid, SIGTERM);
    int ws = 0;
    ::waitpid(pid, &ws, 0);
    EXPECT_TRUE(WIFSIGNALED(ws) && WTERMSIG(ws) == SIGTERM);
    EXPECT_TRUE(tmp_empty());
    const pid_t conv_pid = static_cast<pid_t>(std::stol(pidtext));
    bool gone = false;
    for (int k = 0; k < 200 && !gone; ++k) {
        gone = ::kill(conv_pid, 0) != 0;
        if (!gone) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(gone);
    EXPECT_FALSE(fs::exists(path("out.430")));
}

}  // namespace
