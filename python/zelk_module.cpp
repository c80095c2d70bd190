// The compiled part of the Python module: runs the program's run loop over one file with
// its record steps, collecting for each record that reached the inversion the summary row
// (as the batch program's JSON Lines summary makes it) and the N(h) table.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "core/stop.hpp"
#include "pipeline/zelk.hpp"
#include "driver/run.hpp"
#include "driver/summary.hpp"
#include "driver/version.hpp"
#include "driver/vxo_steps.hpp"
#include "pipeline/prepare.hpp"
#include "platform/datafile.hpp"

namespace py = pybind11;
using namespace zelk::driver;

namespace {

// One record's result, gathered without the interpreter.
struct Collected {
    std::string row;                  // the summary row, JSON
    std::vector<float> height, fn;    // the N(h) table (km, MHz)
};

class Collector final : public Frontend {
public:
    Collector() { summary_.SET_FORMAT(true); }
    void NOTICE(const std::string& text) override { notices.push_back(text); }
    void MESSAGE_BOX(const std::string& title, const std::string& text) override {
        notices.push_back(title + ": " + text);
    }
    // The notices of the batch program about a file's bad records.
    void FILE_DONE(const FileJob& job, const FileOutcome& fo) override {
        outcome = fo;
        if (!fo.opened) return;
        for (std::string& text : zelk::driver::FILE_NOTICES(job.input, fo)) notices.push_back(std::move(text));
    }
    void RECORD_DONE(const zelk::Zelk& z, const RecordInfo& info) override {
        Collected c;
        std::ostringstream os;
        summary_.ROW(os, z, info.job->input, info.RECNO);
        c.row = os.str();
        const auto& p = z.prod;
        for (int i = 1; i <= p.NPROW; ++i) {
            c.height.push_back(p.PRFHT(i));
            c.fn.push_back(p.PRFFN(i));
        }
        results.push_back(std::move(c));
    }
    std::vector<Collected> results;
    std::vector<std::string> notices;
    FileOutcome outcome;

private:
    Summary summary_;
};

template <typename T>
py::array_t<T> array(const std::vector<T>& v) {
    py::array_t<T> a(static_cast<py::ssize_t>(v.size()));
    std::copy(v.begin(), v.end(), a.mutable_data());
    return a;
}

// Inverts the records of a VXO file as zelk-batch does with the same settings (one file,
// a run context of its own, no output file). Returns (rows, tables, notices, read, bad);
// raises DataFileError for a missing or malformed model data file.
py::tuple run_file(const std::string& path, float hstep, float qpacc) {
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
        VxoSteps steps;
        try {
            RUN_FILES(*z, {FileJob{path, ""}}, fe, steps, false);
        } catch (const zelk::Stop& e) {
            stop = e.what();
        }
    }
    if (!stop.empty()) {
        static py::object err = py::module_::import("zelk").attr("DataFileError");
        PyErr_SetString(err.ptr(), stop.c_str());
        throw py::error_already_set();
    }
    py::list rows, heights, fns;
    for (const Collected& c : fe.results) {
        rows.append(c.row);
        heights.append(array(c.height));
        fns.append(array(c.fn));
    }
    return py::make_tuple(rows, heights, fns, fe.notices, fe.outcome.opened);
}

}  // namespace

PYBIND11_MODULE(_zelk, m) {
    m.doc() = "Compiled core of the zelk module (use the zelk package, not this).";
    m.def("run_file", &run_file, py::arg("path"), py::arg("hstep") = 0.0f, py::arg("qpacc") = 0.0f,
          "Inverts the records of a VXO file; (rows, heights, fns, notices, opened).");
    m.def("set_home", &zelk::platform::SET_PROGRAM_DIR, py::arg("dir"),
          "Takes dir as the module's home for the data-file lookup (its data/ and ../share/zelk).");
    m.def("version_text", [] { return VERSION_TEXT("zelk"); },
          "The version text: program version, source revision, data directory.");
}
