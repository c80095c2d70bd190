// Record steps for exercising the run loop without the VXO reader or the inversion: the
// input is one line per record, the "inversion" sets the status and the "writer" writes
// one line per record.
//
// Input lines:  GOOD [day]   a valid record (day of year, default 167)
//               BAD          a record the reader rejects (the line is consumed)
//               STUCK        a rejected record that leaves the reader where it was
//               STOP         a record whose inversion throws zelk::Stop
// With `apart` set, the steps give record workers, so that the run loop makes the records of
// a file on several threads; a STOP record is then known by its description.
#pragma once

#include <fstream>
#include <functional>
#include <istream>
#include <memory>
#include <sstream>
#include <string>

#include "core/stop.hpp"
#include "pipeline/zelk.hpp"
#include "driver/run.hpp"

namespace ztest {

// A valid layout-1 record: 0.1 MHz step, 5 km bins, foF2 5.0 with a 5-point F2 trace.
inline void fill_record(zelk::Zelk& z, int day) {
    auto& r = z.rec;
    r.IDX.fill(0);
    r.IDX(1) = 5;
    r.IDX(2) = 1;
    r.IDX(3) = 60;
    r.IDX(4) = 31;
    r.IDX(7) = 5;
    r.IDX(80) = 5;
    const std::string stamp = "04" + std::string(day < 10 ? "00" : day < 100 ? "0" : "") +
                              std::to_string(day) + "190530" + std::string(23, '0') + "1" +
                              std::string(5, '0') + "101" + std::string(10, '0') + "12" +
                              std::string(5, '0');
    r.TSTAMP.fill(' ');
    for (size_t i = 0; i < stamp.size(); ++i) r.TSTAMP(static_cast<int>(i + 1)) = stamp[i];
    const std::string desc = "TEST RECORD, NAME FAKE";
    r.SYSDSC1.fill(' ');
    for (size_t i = 0; i < desc.size(); ++i) r.SYSDSC1(static_cast<int>(i + 1)) = desc[i];
    r.SCALED.fill(9999.0f);
    r.SCALED(1) = 5.0f;
    r.SCALED(7) = 4.6f;
    r.GCONST(1) = 1.35f;
    for (int i = 1; i <= 5; ++i) r.VHOF2(i) = 250.0f + 10.0f * static_cast<float>(i);
}

class FakeSteps : public zelk::driver::RecordSteps {
public:
    int inverted = 0;
    bool apart = false;
    // Called inside write with the output stream, to look at the files while a run is on.
    std::function<void()> during_write;

    bool open(const std::string& path) override {
        in.close();
        in.clear();
        in.open(path);
        return static_cast<bool>(in);
    }
    long long position() const override { return static_cast<long long>(pos_); }
    void close() override { in.close(); }

    void read(zelk::Zelk& z, int32_t& IEOF, int16_t& LREAD, int16_t& LBAD) override {
        LBAD = 1;
        std::string line;
        const std::streampos at = in.tellg();
        if (!std::getline(in, line)) {
            IEOF = -1;
            return;
        }
        pos_ = in.tellg();
        std::istringstream words(line);
        std::string kind;
        int day = 167;
        words >> kind >> day;
        if (kind == "BAD") return;
        if (kind == "STUCK") {
            in.seekg(at);
            pos_ = at;
            return;
        }
        fill_record(z, day);
        stop_ = kind == "STOP";
        if (stop_) z.rec.SYSDSC1(1) = '!';
        LBAD = 0;
        LREAD = 1;
        IEOF = 0;
    }
    void invert(zelk::Zelk& z) override {
        if (stop_ || z.rec.SYSDSC1(1) == '!') throw zelk::Stop("URSI13.ASC NOT FOUND");
        ++inverted;
        z.inv.ISTAT() = 2;
    }
    void write(std::ostream& out, zelk::Zelk& z) override {
        if (during_write) during_write();
        out << "REC " << z.inv.IDAY << '\n';
    }
    std::unique_ptr<zelk::driver::RecordSteps> record_worker() const override {
        return apart ? std::make_unique<FakeSteps>() : nullptr;
    }

private:
    std::ifstream in;
    std::streampos pos_ = 0;
    bool stop_ = false;
};

// A front end that remembers what it was told.
class RecordingFrontend : public zelk::driver::Frontend {
public:
    std::vector<std::string> notices, boxes;
    std::vector<zelk::driver::FileOutcome> files;
    std::vector<int> dialogs;
    std::string converted_to;   // what NONVXO_VXO answers
    int records = 0;

    std::string NONVXO_VXO(const std::string&, const std::string&, bool) override { return converted_to; }
    void DODIALOG3(int code) override { dialogs.push_back(code); }
    void message_box(const std::string& title, const std::string& text) override {
        boxes.push_back(title + ": " + text);
    }
    void notice(const std::string& text) override { notices.push_back(text); }
    void file_done(const zelk::driver::FileJob&, const zelk::driver::FileOutcome& fo) override {
        files.push_back(fo);
    }
    void record_done(const zelk::Zelk&, const zelk::driver::RecordInfo&) override { ++records; }
};

inline std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void spit(const std::string& path, const std::string& text) {
    std::ofstream out(path);
    out << text;
}

}  // namespace ztest
