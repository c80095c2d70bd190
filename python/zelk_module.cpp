// The compiled part of the Python module. It reads VXO files into records held as C++
// Ionogram records, inverts one record (in a run context of its own or in one carried from
// record to record), runs the program's run loop over a file as the batch program does, and
// writes records in layout 5. What a result reports is the record result of the pipeline
// (the summary's columns, the region descriptions, the quasi-parabolic segments) and the
// N(h) table. Every inversion runs without the interpreter lock.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "core/stop.hpp"
#include "driver/batch.hpp"
#include "driver/outfile.hpp"
#include "driver/run.hpp"
#include "driver/version.hpp"
#include "driver/vxo_steps.hpp"
#include "iondata/stamp.hpp"
#include "iondata/vxo.hpp"
#include "iondata/writable.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/prepare.hpp"
#include "pipeline/result.hpp"
#include "pipeline/update.hpp"
#include "pipeline/zelk.hpp"
#include "platform/datafile.hpp"

namespace py = pybind11;
using namespace zelk::driver;
using zelk::iondata::IonogramRecord;
using zelk::pipeline::RecordResult;

namespace {

// A record as read: the Ionogram record (with what the reader carried over from the
// records before it in the file, as the batch program's record holds it), the file it came
// from and its ordinal there.
struct Record {
    std::shared_ptr<const IonogramRecord> rec;
    std::string file;
    int32_t index = 0;
};

// Every input file and every inversion in a fresh context gets a number of its own, as each
// input file of the batch program does, for the lookup of the coefficient files. The batch
// run loop numbers from 1 up; these numbers count down from the top, so the two never meet.
uint64_t next_fileseq() {
    static std::atomic<uint64_t> seq{~uint64_t{0}};
    return seq--;
}

// One record's result, gathered without the interpreter.
struct Collected {
    RecordResult r;
    std::string file;
    int32_t recno = 0;
    std::vector<float> height, fn;                   // the N(h) table (km, MHz)
    std::shared_ptr<const IonogramRecord> output;    // the record as written, when made
};

Collected collect(const zelk::Zelk& z, const std::string& file, int32_t recno) {
    Collected c;
    c.r = zelk::pipeline::record_result(z);
    c.file = file;
    c.recno = recno;
    const auto& p = z.prod;
    c.height.reserve(static_cast<size_t>(std::max(0, static_cast<int>(p.NPROW))));
    for (int i = 1; i <= p.NPROW; ++i) {
        c.height.push_back(p.PRFHT(i));
        c.fn.push_back(p.PRFFN(i));
    }
    return c;
}

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// Bytes of a text field as Python text: Latin-1, so that every byte gives one character
// (the summary's JSON escapes bytes outside ASCII as the same characters).
py::str text(const std::string& s) {
    return py::reinterpret_steal<py::str>(PyUnicode_DecodeLatin1(s.data(), static_cast<py::ssize_t>(s.size()), nullptr));
}

// A characteristic as the summary reports it: rounded to its decimals (the JSON summary's
// number read back), None where it is missing.
py::object value(const zelk::pipeline::Value& v) {
    if (!v.v) return py::none();
    char buf[48];
    std::snprintf(buf, sizeof buf, "%.*f", v.decimals, *v.v);
    return py::float_(std::strtod(buf, nullptr));
}

py::object region(const std::optional<zelk::pipeline::RegionDescription>& d) {
    if (!d) return py::none();
    std::vector<float> coef(d->coef, d->coef + d->ncoef);
    py::dict r;
    r["start"] = d->start;
    r["end"] = d->end;
    r["peak_height"] = d->peak_height;
    r["residual"] = d->residual;
    r["coefficients"] = array(coef);
    return r;
}

// The fields of a Result, as a dict the Python class takes.
py::dict result_fields(const Collected& c) {
    const RecordResult& r = c.r;
    py::dict d;
    d["file"] = text(c.file);
    d["record"] = c.recno;
    d["station"] = text(r.station);
    d["station_code"] = r.station_code;
    d["time"] = r.time.empty() ? py::object(py::none()) : py::object(text(r.time));
    d["istat"] = r.istat;
    d["status"] = r.status;
    d["mode"] = r.mode ? py::object(text(r.mode)) : py::object(py::none());
    for (int k = 0; k < RecordResult::NCHAR; ++k) d[RecordResult::CHAR_NAMES[k]] = value(r.characteristic[k]);
    d["n_qp"] = r.n_qp;
    d["er_F2"] = value(r.er_F2);
    d["height"] = array(c.height);
    d["fn"] = array(c.fn);
    py::dict regions;
    regions["E"] = region(r.regions.E);
    regions["F1"] = region(r.regions.F1);
    regions["F2"] = region(r.regions.F2);
    d["regions"] = regions;
    py::array_t<double> qp({static_cast<py::ssize_t>(r.qp.size()), py::ssize_t{6}});
    auto q = qp.mutable_unchecked<2>();
    for (size_t i = 0; i < r.qp.size(); ++i) {
        const auto& s = r.qp[i];
        const double row[6] = {s.bottom, s.top, s.a, s.b, s.c, s.error};
        for (py::ssize_t j = 0; j < 6; ++j) q(static_cast<py::ssize_t>(i), j) = row[j];
    }
    d["qp"] = qp;
    d["record_out"] = c.output ? py::cast(Record{c.output, c.file, c.recno}) : py::object(py::none());
    return d;
}

[[noreturn]] void raise(const char* type, const std::string& message) {
    py::object err = py::module_::import("zelk").attr(type);
    PyErr_SetString(err.ptr(), message.c_str());
    throw py::error_already_set();
}

// The refined-mode parts named as zelk-batch --refine-parts names them ("all" for --refine,
// "" for the standard mode); ValueError for an unknown part.
zelk::inversion::RefineOptions refine_parts(const std::string& parts) {
    zelk::inversion::RefineOptions r;
    std::string why;
    if (!parts.empty() && !zelk::driver::parse_refine(parts, r, why)) throw py::value_error(why);
    return r;
}

// ---- zelk.run: the program's run loop over one file ----

class Collector final : public Frontend {
public:
    void notice(const std::string& text) override { notices.push_back(text); }
    void message_box(const std::string& title, const std::string& text) override {
        notices.push_back(title + ": " + text);
    }
    // The notices of the batch program about a file's bad records.
    void file_done(const FileJob& job, const FileOutcome& fo) override {
        outcome = fo;
        if (!fo.opened) return;
        for (std::string& t : file_notices(job.input, fo)) notices.push_back(std::move(t));
    }
    void record_done(const zelk::Zelk& z, const RecordInfo& info) override {
        results.push_back(collect(z, info.job->input, info.RECNO));
    }
    std::vector<Collected> results;
    std::vector<std::string> notices;
    FileOutcome outcome;
};

// Inverts the records of a VXO file as zelk-batch does with the same settings (one file,
// a run context of its own, no output file). Returns (results, notices, opened); raises
// DataFileError for a missing or malformed model data file.
py::tuple run_file(const std::string& path, float hstep, float qpacc, const std::string& refine, int jobs,
                   bool fast) {
    const zelk::inversion::RefineOptions parts = refine_parts(refine);
    if (jobs < 1 || jobs > 64) throw py::value_error("jobs must be a whole number from 1 to 64");
    Collector fe;
    std::string stop;
    {
        py::gil_scoped_release release;
        auto z = std::make_unique<zelk::Zelk>();
        std::ostringstream diag;
        z->log.IDEBUG = 0;
        z->log.out = &diag;
        z->run.INFILE = path;
        z->run.OUTFILE = "NONE";
        z->run.HSTEP = hstep;
        z->run.QPACC = qpacc;
        z->inv.refine = parts;
        z->bot.FAST = fast;
        z->run.record_jobs = jobs;
        VxoSteps steps;
        try {
            run_files(*z, {FileJob{path, ""}}, fe, steps, false);
        } catch (const zelk::Stop& e) {
            stop = e.what();
        }
    }
    if (!stop.empty()) raise("DataFileError", stop);
    py::list results;
    for (const Collected& c : fe.results) results.append(result_fields(c));
    return py::make_tuple(results, fe.notices, fe.outcome.opened);
}

// ---- zelk.read ----

// Reads every record of a VXO file that reads whole, with the run loop's reading (its
// clearing of the per-record tables and its handling of refused and cut records), but
// without preparing or inverting anything. Returns (records, notices, opened).
py::tuple read_file(const std::string& path) {
    std::vector<Record> records;
    FileOutcome fo;
    {
        py::gil_scoped_release release;
        auto z = std::make_unique<zelk::Zelk>();
        VxoSteps steps;
        fo.opened = steps.open(path);
        int32_t RECNO = 0;
        while (fo.opened) {
            clear_record_tables(*z);
            const long long before = steps.position();
            int32_t IEOF = 0;
            int16_t LREAD = 0, LBAD = 0;
            steps.read(*z, IEOF, LREAD, LBAD);
            const std::string r = steps.refusal();
            const std::string at = r.empty() ? r : " at " + r;
            if (IEOF == -1) {
                if (LBAD == 0) {   // cut short by the end of the file
                    ++fo.bad;
                    if (fo.refused.size() < FileOutcome::KEPT) fo.refused.emplace_back(RECNO + 1, at);
                    ++fo.noted;
                }
                break;
            }
            ++RECNO;
            if (LBAD == 1) {
                ++fo.bad;
                if (fo.refused.size() < FileOutcome::KEPT) fo.refused.emplace_back(RECNO, at);
                ++fo.noted;
                long first = 0;
                if (const int passed = steps.passed_over(first); passed > 0) {
                    fo.bad += passed;
                    if (fo.refused.size() < FileOutcome::KEPT) {
                        fo.refused.emplace_back(RECNO + 1, " at line " + std::to_string(first) +
                                                               ": damaged too, passed over" +
                                                               (passed > 1 ? " with " + std::to_string(passed - 1) + " more" : ""));
                    }
                    ++fo.noted;
                    RECNO += passed;
                }
                if (steps.position() == before) break;
                continue;
            }
            ++fo.read;
            records.push_back(Record{std::make_shared<IonogramRecord>(z->rec), path, RECNO});
        }
        steps.close();
    }
    std::vector<std::string> notices = fo.opened ? file_notices(path, fo) : std::vector<std::string>{path + ": cannot be opened"};
    return py::make_tuple(records, notices, fo.opened);
}

// ---- zelk.invert ----

// A run context carried from record to record: what the batch program keeps between the
// records of one file (the sunspot lookup of the month, the model values, the record
// arrays a record does not fill). One thread at a time inverts in it.
struct Context {
    Context() : z(std::make_unique<zelk::Zelk>()), fileseq(next_fileseq()) {
        z->log.IDEBUG = 0;
        z->log.out = &diag;
        z->run.OUTFILE = "NONE";
    }
    std::unique_ptr<zelk::Zelk> z;
    uint64_t fileseq;
    std::ostringstream diag;
    std::mutex busy;
    int32_t inverted = 0;
};

// Prepares, inverts and updates the record in the context, as the batch program does for a
// record it writes. Returns "" or the reason the record cannot be inverted; a missing data
// file throws zelk::Stop.
std::string invert_in(Context& cx, const Record& r, float hstep, float qpacc,
                      const zelk::inversion::RefineOptions& refine, bool fast, Collected& out) {
    zelk::Zelk& z = *cx.z;
    z.inv.refine = refine;
    z.bot.FAST = fast;
    z.run.HSTEP = hstep;
    z.run.QPACC = qpacc;
    z.prod.FILESEQ = cx.fileseq;
    z.bot.FILESEQ = cx.fileseq;
    clear_record_tables(z);
    z.rec = *r.rec;
    const int16_t prep = zelk::pipeline::prepare(z);
    if (prep == zelk::pipeline::PREP_STATION) {
        return "impossible station constant, " + zelk::pipeline::station_fault(z.rec);
    }
    if (prep != zelk::iondata::PREP_OK) return zelk::iondata::prep_text(prep);
    cx.diag.str({});
    zelk::pipeline::invert_record(z);
    zelk::pipeline::update_record(z);
    ++cx.inverted;
    out = collect(z, r.file, r.index);
    // The record as the batch program writes it: made writable, and as the writer leaves it
    // (counts clamped, the true-height groups dropped), which is what a reader gets back.
    std::vector<zelk::iondata::Unwritable> missing;
    zelk::iondata::Unwritable fatal;
    if (zelk::iondata::make_writable(z.rec, missing, fatal)) {
        std::ostringstream sink;
        zelk::fio::LineWriter unit(sink);
        zelk::iondata::WRITVXO(unit, z.rec);
        unit.close();
    }
    out.output = std::make_shared<IonogramRecord>(z.rec);
    return {};
}

py::dict invert_record(const Record& r, float hstep, float qpacc, Context* context, const std::string& refine,
                       bool fast) {
    const zelk::inversion::RefineOptions parts = refine_parts(refine);
    Collected c;
    std::string why, stop;
    {
        py::gil_scoped_release release;
        std::unique_ptr<Context> fresh;
        Context& cx = context ? *context : *(fresh = std::make_unique<Context>());
        std::lock_guard<std::mutex> lock(cx.busy);
        try {
            why = invert_in(cx, r, hstep, qpacc, parts, fast, c);
        } catch (const zelk::Stop& e) {
            stop = e.what();
        }
    }
    if (!stop.empty()) raise("DataFileError", stop);
    if (!why.empty()) raise("Error", r.file + ": record " + std::to_string(r.index) + ": " + why);
    return result_fields(c);
}

// ---- zelk.write ----

// Writes the records in layout 5 to path, complete or not at all: under a temporary name,
// renamed when every record is written. A record with a value its output field cannot
// hold is written with the missing value there (listed in the returned notices); one that
// cannot be written at all (an impossible station constant or Doppler table value) raises
// ValueError and nothing is written.
std::vector<std::string> write_file(const std::string& path, const std::vector<Record>& records) {
    std::vector<std::string> notices;
    std::string unusable, why;
    bool done = false;
    {
        py::gil_scoped_release release;
        std::ostringstream text;
        for (size_t i = 0; i < records.size() && unusable.empty(); ++i) {
            IonogramRecord rec = *records[i].rec;
            std::vector<zelk::iondata::Unwritable> missing;
            zelk::iondata::Unwritable fatal;
            const std::string which = "record " + std::to_string(i + 1) + " of the list (" + records[i].file +
                                      " record " + std::to_string(records[i].index) + ")";
            if (!zelk::iondata::make_writable(rec, missing, fatal)) {
                unusable = which + ": " + zelk::iondata::unwritable_text(fatal) + " cannot be written in its field";
                break;
            }
            for (const auto& u : missing) {
                notices.push_back(which + ": written as missing: " + zelk::iondata::unwritable_text(u));
            }
            zelk::fio::LineWriter unit(text);
            zelk::iondata::WRITVXO(unit, rec);
            unit.close();
        }
        if (unusable.empty()) {
            PendingOutput out(path);
            if (out.open(why)) {
                out.os() << text.str();
                done = out.commit(why);
            }
        }
    }
    if (!unusable.empty()) {
        PyErr_SetString(PyExc_ValueError, (path + ": not written, " + unusable).c_str());
        throw py::error_already_set();
    }
    if (!done) raise("Error", path + ": cannot be written (" + why + ")");
    return notices;
}

// ---- what a record holds ----

std::string field(const zelk::F1<char, 120>& f, int n) {
    std::string s(f.data() + 1, f.data() + 1 + std::clamp(n, 0, 120));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

// Values of a group as a numpy array (n of them).
template <typename T, int N>
py::array_t<T> group(const zelk::F1<T, N>& a, int n) {
    n = std::clamp(n, 0, N);
    py::array_t<T> out(n);
    std::copy(a.data() + 1, a.data() + 1 + n, out.mutable_data());
    return out;
}

// Virtual heights (km) as float64 with NaN where the record marks no echo (9999, and 999 in
// the layouts before version 4).
py::array_t<double> heights(const IonogramRecord& rec, const float* h, int n, int cap) {
    n = std::clamp(n, 0, cap);
    py::array_t<double> out(n);
    double* o = out.mutable_data();
    const float miss = rec.IDX(80) >= 4 ? 9999.0f : 999.0f;
    for (int i = 0; i < n; ++i) {
        const float v = h[i + 1];
        o[i] = (v == 9999.0f || v == miss) ? std::nan("") : static_cast<double>(v);
    }
    return out;
}

py::dict traces(const IonogramRecord& R) {
    py::dict t;
    auto add = [&](const char* name, py::array_t<double> vh, py::array_t<float> f, py::array_t<int32_t> amp,
                   py::array_t<int32_t> dop) {
        if (vh.size() == 0 && f.size() == 0) return;
        py::dict d;
        d["frequency"] = f;
        d["height"] = vh;
        d["amplitude"] = amp;
        d["doppler"] = dop;
        t[name] = d;
    };
    const auto& I = R.IDX;
    add("oF2", heights(R, R.VHOF2.data(), I(7), 400), group(R.FQOF2, I(11)), group(R.IAMOF2, I(9)), group(R.IDNOF2, I(10)));
    add("oF1", heights(R, R.VHOF1.data(), I(12), 150), group(R.FQOF1, I(16)), group(R.IAMOF1, I(14)), group(R.IDNOF1, I(15)));
    add("oE", heights(R, R.VHOE.data(), I(17), 150), group(R.FQOE, I(21)), group(R.IAMOE, I(19)), group(R.IDNOE, I(20)));
    add("xF2", heights(R, R.VHXF2.data(), I(22), 400), group(R.FQXF2, I(25)), group(R.IAMXF2, I(23)), group(R.IDNXF2, I(24)));
    add("xF1", heights(R, R.VHXF1.data(), I(26), 150), group(R.FQXF1, I(29)), group(R.IAMXF1, I(27)), group(R.IDNXF1, I(28)));
    add("xE", heights(R, R.VHXE.data(), I(30), 150), group(R.FQXE, I(33)), group(R.IAMXE, I(31)), group(R.IDNXE, I(32)));
    add("oEs", heights(R, R.VHOES.data(), I(43), 150), group(R.FQOES, I(46)), group(R.IAMOES, I(44)), group(R.IDNOES, I(45)));
    add("oEa", heights(R, R.VHOEA.data(), I(47), 150), group(R.FQOEA, I(50)), group(R.IAMOEA, I(48)), group(R.IDNOEA, I(49)));
    return t;
}

py::object record_time(const IonogramRecord& rec) {
    zelk::iondata::StampInfo st;
    const int16_t s = zelk::iondata::decode_stamp(rec, st);
    if (s == zelk::iondata::PREP_LAYOUT || s == zelk::iondata::PREP_TIME) return py::none();
    const std::string t = zelk::iondata::iso_time(st.IYR, st.IDAY, st.IHR, st.MINU, st.ISEC);
    return t.empty() ? py::object(py::none()) : py::object(py::str(t));
}

}  // namespace

PYBIND11_MODULE(_zelk, m) {
    m.doc() = "Compiled core of the zelk module (use the zelk package, not this).";

    py::class_<Record>(m, "Record", R"(An ionogram record of a VXO file, as zelk.read gives it.

The record is held as the program holds it; its properties decode it. Records are
immutable; zelk.invert takes one and zelk.write writes a list of them.)")
        .def_property_readonly("file", [](const Record& r) { return text(r.file); },
                               "The file the record was read from.")
        .def_property_readonly("index", [](const Record& r) { return r.index; },
                               "Its ordinal in that file (1 for the first; bad records counted).")
        .def_property_readonly("version", [](const Record& r) { return r.rec->IDX(80); },
                               "The layout version of the record (0 to 5).")
        .def_property_readonly("station", [](const Record& r) {
                char name[21];
                zelk::iondata::station_name(r.rec->SYSDSC1, name);
                std::string s(name, 20);
                s.erase(s.find_last_not_of(' ') + 1);
                return text(s);
            }, "The station name from the system description (\"NO NAME\" when it names none).")
        .def_property_readonly("station_code", [](const Record& r) -> py::object {
                zelk::iondata::StampInfo st;
                if (zelk::iondata::decode_stamp(*r.rec, st) == zelk::iondata::PREP_LAYOUT) return py::none();
                return py::int_(st.ISTNCODE);
            }, "The station code from the time stamp (None when the stamp is not recognised).")
        .def_property_readonly("time", [](const Record& r) { return record_time(*r.rec); },
                               "The time, ISO 8601 UTC (None when the stamp holds no valid time).")
        .def_property_readonly("constants", [](const Record& r) {
                const auto& G = r.rec->GCONST;
                py::dict d;
                d["gyrofrequency"] = G(1);
                d["dip"] = G(2);
                d["latitude"] = G(3);
                d["longitude"] = G(4);
                d["sunspot_number"] = G(5);
                return d;
            }, "The station constants of group 1: gyrofrequency (MHz), dip, latitude and longitude "
               "(degrees), sunspot number.")
        .def_property_readonly("scaled", [](const Record& r) { return group(r.rec->SCALED, r.rec->IDX(4)); },
                               "The scaled characteristics of group 4 as read, 9999 where not scaled "
                               "(entry n at index n - 1); zelk.Record.characteristics names them.")
        .def_property_readonly("flags", [](const Record& r) { return group(r.rec->AFLAGS, r.rec->IDX(5)); },
                               "The analysis flags of group 5 (flag 2 of an output record: the inversion status).")
        .def_property_readonly("system", [](const Record& r) {
                return py::make_tuple(text(field(r.rec->SYSDSC1, 120)), text(field(r.rec->SYSDSC2, 120)));
            }, "The two lines of the system description (group 2), trailing blanks removed.")
        .def_property_readonly("stamp", [](const Record& r) { return text(field(r.rec->TSTAMP, r.rec->IDX(3))); },
                               "The time stamp and sounder settings (group 3) as text.")
        .def_property_readonly("traces", [](const Record& r) { return traces(*r.rec); },
                               "The echo traces the record carries, by name: oF2, oF1, oE (ordinary), xF2, "
                               "xF1, xE (extraordinary), oEs, oEa (sporadic and auroral E). Each is a dict of "
                               "numpy arrays: frequency (MHz), height (virtual height, km, NaN for no echo), "
                               "amplitude and doppler, each as long as its group in the record.")
        .def_property_readonly("profile", [](const Record& r) -> py::object {
                const int n = r.rec->IDX(51);
                if (n <= 0) return py::none();
                return py::make_tuple(group(r.rec->PRFHT, n), group(r.rec->PRFFN, r.rec->IDX(52)));
            }, "The N(h) table the record carries (groups 51, 52): (heights km, plasma frequencies MHz), "
               "or None.");

    py::class_<Context>(m, "Context", R"(A run context carried from record to record.

zelk.invert in one context, over the records of one file in file order, inverts them as
zelk-batch inverts that file: the sunspot number is looked up once per month, and the
model values and the arrays of the record that a record does not fill carry over. One
thread at a time inverts in a context; others wait.)")
        .def(py::init<>())
        .def_property_readonly("inverted", [](const Context& c) { return c.inverted; },
                               "The number of records inverted in this context.");

    m.def("run_file", &run_file, py::arg("path"), py::arg("hstep"), py::arg("qpacc"), py::arg("refine"),
          py::arg("jobs") = 1, py::arg("fast") = false,
          "Inverts the records of a VXO file; (result fields, notices, opened). refine: the refined-mode "
          "parts as --refine-parts names them, \"all\", or \"\" for the standard mode; jobs: the "
          "threads that make the records; fast: B0, B1 and D1 by the fast fit (--shape-fit fast).");
    m.def("read_file", &read_file, py::arg("path"), "Reads the records of a VXO file; (records, notices, opened).");
    m.def("invert_record", &invert_record, py::arg("record"), py::arg("hstep"), py::arg("qpacc"),
          py::arg("context").none(true), py::arg("refine"), py::arg("fast") = false,
          "Inverts one record; its result fields. refine and fast as for run_file.");
    m.def("write_file", &write_file, py::arg("path"), py::arg("records"),
          "Writes records in layout 5, complete or not at all; the notices of values written as missing.");
    m.def("set_home", &zelk::platform::set_program_dir, py::arg("dir"),
          "Takes dir as the module's home for the data-file lookup (its data/ and ../share/zelk).");
    m.def("version_text", [] { return version_text("zelk"); },
          "The version text: program version, source revision, data directory.");
}
