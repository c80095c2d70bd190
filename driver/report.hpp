// The run report of the batch program: one self-contained HTML page (inline SVG, CSS and a
// little JavaScript, nothing fetched when it is viewed) that shows a run at a glance, per
// station: a height-time colour map of the plasma frequency (or the density) of the
// inverted profiles, the characteristics as time series with the records that did not
// invert marked by status, a sortable table of the records and the run's facts. The values
// are those of the output records (the summary's), and they are embedded in the page as
// JSON so that they can be read back.
#pragma once

#include <array>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "driver/summary.hpp"
#include "pipeline/result.hpp"

namespace zelk {
struct Zelk;
}

namespace zelk::driver {

// Heights of the report's profile grid (km): the 1 km N(h) table of a record is sampled
// there, REPORT_H0 + k * REPORT_DH for k = 0 .. REPORT_NH - 1.
static constexpr float REPORT_H0 = 80.0f;
static constexpr float REPORT_DH = 4.0f;
static constexpr int REPORT_NH = 161;   // up to 720 km
// Plasma frequencies on the grid are kept in kHz; 0 is "no profile at this height".
static constexpr float REPORT_FSCALE = 1000.0f;

// What the report keeps of one record that reached the inversion.
struct ReportRecord {
    std::string file;           // input file as named in the run
    int32_t record = 0;         // ordinal of the record in its file
    std::string station;        // station name, trailing blanks removed
    int32_t station_code = 0;
    std::string time;           // ISO 8601 UTC, "" when the record holds no valid time
    double t = 0.0;             // the same time in seconds since 1970 (valid when time is set)
    int16_t istat = 0;          // inversion status (2: profile inverted)
    std::string mode;           // in a refined run, the method that made the result (the
                                // summary's column mode); "" in a standard run
    std::array<pipeline::Value, pipeline::RecordResult::NCHAR> values;   // the summary's characteristics
    float hmF2 = 0.0f;          // height of the F2 peak (km): the topside starts above it
    std::vector<uint16_t> fn;   // plasma frequency (kHz) on the grid; empty when not inverted
};

// The report's record of the record in z (read from file as its record RECNO), after its
// inversion. For an inverted record the profile is the 1 km N(h) table of the inversion's
// first pass (up to the F2 peak) with the topside of the record's scale height added at 1 km
// through the table routine, whatever the run's table step; the record itself is untouched.
ReportRecord report_record(const Zelk& z, const std::string& file, int32_t RECNO);

// The facts of the run shown at the top of the report.
struct ReportFacts {
    std::vector<std::string> inputs;    // as given on the command line
    std::vector<std::pair<std::string, std::string>> options;   // name, value
    std::string version;                // the --version text: program and version, source
                                        // revision, data directory (one per line)
    int32_t files = 0;                  // files attempted
    int32_t bad = 0;                    // bad records skipped
    double seconds = 0.0;               // time taken by the run
    std::string plots;                  // directory of the record pictures, "" for none
    std::string plot_ext = "png";       // their format: png or svg, one file per record
                                        // <input name>.<record, 4 digits>.<ext>; pdf, one
                                        // file per input <input name>.pdf
};

// Decimation of a station's colour map in time: for each of `columns` columns evenly
// spanning [t0, t1), the index (into times) of the record nearest to the column's centre, or
// -1 when the nearest record is farther than max(0.75 x cadence, half a column) (a gap) or
// is not inverted (shown blank: no profile). times need not be sorted. The cadence is the
// median spacing of the distinct times (half the span when there is one distinct time).
std::vector<int32_t> map_columns(const std::vector<double>& times, const std::vector<bool>& inverted,
                                 double t0, double t1, int columns);

// The median spacing of the distinct values of times (0 for fewer than two).
double median_spacing(std::vector<double> times);

// Writes the report page of the records (in file order, then record order) to os. When the
// records come from a refined run (a record has a mode), the data and the table of records
// have the column mode; the page of a standard run has none.
void write_report(std::ostream& os, const std::vector<ReportRecord>& records,
                  const ReportFacts& facts, const std::string& report_path);

// Writes the report file (under a temporary name until it is complete); false with the
// reason in why when it cannot be written.
bool save_report(const std::string& path, const std::vector<ReportRecord>& records,
                 const ReportFacts& facts, std::string& why);

}  // namespace zelk::driver
