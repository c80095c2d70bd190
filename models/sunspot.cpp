// Monthly sunspot numbers: the table of the sunspot file SUNSPT.ASC and the prediction
// of the months it does not cover from the earlier solar cycles.
#include <cmath>
#include <fstream>
#include <istream>
#include <ostream>
#include <string>
#include <string_view>

#include "core/stop.hpp"
#include "core/fortran_io.hpp"
#include "models/models.hpp"
#include "platform/datafile.hpp"

namespace zelk::models {

namespace {

// Student's t for the prediction interval of the regression (two-sided 90 %, about
// 10 degrees of freedom).
static constexpr float TSTUD = 1.812f;

// The first year a data line may carry: the start of the monthly record.
static constexpr int FIRSTYEAR = 1749;

// First cycle of the regression: the earlier cycles are the least reliable record.
static constexpr int FIRSTREGCYC = 8;

// The fewest cycles for which the regression has a prediction interval (it divides by
// n - 1 and n - 2).
static constexpr int MINREGCYC = 3;

// Fields of a data line: year and cycle start month, twelve months of 6 columns from
// column 8, cycle number in columns 80-83.
constexpr char FMTYEAR[] = "(I4,1X,I2)";
constexpr char FMTMON[] = "(7X,12F6.1)";
constexpr char FMTCYC[] = "(79X,I4)";

constexpr char MSGMISSING[] = "FILE \"SUNSPT.ASC\" IS REQUIRED IN 60Z BUT IT DOES NOT EXIST!";
constexpr char MSGUNREADABLE[] = "FILE \"SUNSPT.ASC\" IS REQUIRED IN 60Z BUT IT CANNOT BE READ!";
constexpr char MSGDATA[] = "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. DATA MISSING.";
constexpr char MSGCYCLE[] = "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. CYCLES DO NOT MATCH.";
constexpr char MSGVALUE[] = "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. BAD VALUE.";
constexpr char MSGFULL[] = "FILE \"SUNSPT.ASC\" CONSTRUCTED WRONG. TABLE FULL.";

constexpr int NMONTHS = NSSNYR * 12;

// The table entry at month index K (1 = January of row 1); the caller checks the range.
float& at(F2<float, NSSNYR, 12>& tab, int k) { return tab((k - 1) / 12 + 1, (k - 1) % 12 + 1); }

}  // namespace

// READSSN: reads the sunspot file.
//   Given IN, the file's lines; OUT, the diagnostics stream.
//   Returns NCYCLE, CYCBEGIN(1..NCYCLE), IYEAR0, NYEARS and the values into SSNTAB; entries
//   without a value are not touched.
//   Lines whose first character is not a digit are skipped. A data line's year selects its
//   row (row 1 = IYEAR0, the first data line's year), so a line whose first month is blank
//   still keeps the following years in their rows. Reading ends at the end of the file or
//   at a line with a blank month that starts no cycle.
//   Stops (zelk::Stop) on a gap in the years or a year before 1749 (after the
//   " IYEARPRE,IYEAR=" line), on a cycle number out of sequence (after the
//   " ICYCLE,NCYCLES=" line), on a field that is not a number or a cycle start month outside
//   0..12, and when the years or cycles exceed the table (300 years, 30 cycles).
void READSSN(std::istream& in, std::ostream& out, int16_t& NCYCLE,
             F1<int16_t, NSSNCYC>& CYCBEGIN, int16_t& IYEAR0, int16_t& NYEARS,
             F2<float, NSSNYR, 12>& SSNTAB) {
    NCYCLE = 0;
    IYEAR0 = 0;
    NYEARS = 0;
    int iyearpre = 0;
    const fio::FortranFormat fyear(FMTYEAR), fmon(FMTMON), fcyc(FMTCYC);
    const fio::FortranFormat fdiag("(2I5)");
    fio::LineReader lines(in);
    std::string_view line;
    while (lines.next(line)) {
        if (line.empty() || line[0] < '0' || line[0] > '9') continue;

        int32_t ys[2] = {0, 0};   // year, cycle start month
        int32_t icycle = 0;
        if (fio::decode_line(line, fcyc, &icycle, 1) != fio::IoStat::OK ||
            fio::decode_line(line, fyear, ys, 2) != fio::IoStat::OK || ys[1] < 0 ||
            ys[1] > 12)
            throw Stop(MSGVALUE);
        const int iyear = ys[0], smonth = ys[1];
        if (icycle > 0 && NCYCLE == 0) NCYCLE = static_cast<int16_t>(icycle - 1);

        // Years must follow one another from 1749 on.
        if (iyearpre == 0 && iyear > 0) iyearpre = iyear - 1;
        if (iyearpre != iyear - 1 || iyear < FIRSTYEAR) {
            const int32_t years[2] = {iyearpre, iyear};
            out << " IYEARPRE,IYEAR=" << fio::edit_line(fdiag, years, 2) << '\n';
            throw Stop(MSGDATA);
        }
        iyearpre = iyear;
        if (IYEAR0 == 0) IYEAR0 = static_cast<int16_t>(iyear);
        const int row = iyear - IYEAR0 + 1;
        if (row > NSSNYR) throw Stop(MSGFULL);

        // The monthly values, up to the first blank field.
        int nread = 0;
        while (nread < 12 && !fio::blank_field(line, fmon.field(nread))) ++nread;
        float v[12];
        if (fio::decode_line(line, fmon, v, nread) != fio::IoStat::OK)
            throw Stop(MSGVALUE);
        for (int m = 1; m <= nread; ++m) SSNTAB(row, m) = v[m - 1];
        if (nread > 0) NYEARS = static_cast<int16_t>(row);
        if (smonth == 0) {
            if (nread < 12) return;
            continue;
        }

        // A solar cycle starts in this year.
        NCYCLE = static_cast<int16_t>(NCYCLE + 1);
        if (icycle != NCYCLE) {
            const int32_t cycles[2] = {icycle, NCYCLE};
            out << " ICYCLE,NCYCLES=" << fio::edit_line(fdiag, cycles, 2) << '\n';
            throw Stop(MSGCYCLE);
        }
        if (NCYCLE > NSSNCYC) throw Stop(MSGFULL);
        CYCBEGIN(NCYCLE) = static_cast<int16_t>((iyear - IYEAR0) * 12 + smonth);
    }
}

// PERD: ordinary least squares of Y on X over cycles k0+1..N (k0 = NSKIP - 1, or 7 when
// NSKIP is 0) and the prediction at x0.
//   Given X(i), Y(i) per cycle, NSKIP, N, and x0 in C(3).
//   Returns C(1) mean of Y, C(2) slope, C(3) predicted value at x0, C(4) half-width of the
//   prediction interval, C(5) half-width of the slope's confidence interval.
//   Single precision throughout. With fewer than 3 cycles, or X all equal, the results are
//   not finite: the caller must not use them.
void PERD(const F1<float, NSSNCYC>& X, const F1<float, NSSNCYC>& Y, int16_t NSKIP,
          int32_t N, F1<float, 5>& C) {
    const int k0 = NSKIP != 0 ? NSKIP - 1 : FIRSTREGCYC - 1;
    const int n = N - k0;
    const float fn = static_cast<float>(n);
    float sx = 0.0f, sy = 0.0f, sxy = 0.0f, sxx = 0.0f, syy = 0.0f;
    for (int i = k0 + 1; i <= N; ++i) {
        sx += X(i);
        sy += Y(i);
        sxy += X(i) * Y(i);
        sxx += X(i) * X(i);
        syy += Y(i) * Y(i);
    }
    const float x0 = C(3);
    C(1) = sy / fn;
    const float d = fn * sxx - sx * sx;
    const float b = (fn * sxy - sx * sy) / d;
    C(2) = b;
    const float dx = x0 - sx / fn;
    C(3) = b * dx + sy / fn;
    const float nn1 = static_cast<float>(n * (n - 1));
    const float sx2 = d / nn1;
    const float sy2 = (fn * syy - sy * sy) / nn1;
    const float se = std::sqrt(std::fabs(static_cast<float>(n - 1) * (sy2 - b * b * sx2) /
                                         static_cast<float>(n - 2)));
    C(4) = TSTUD * se *
           std::sqrt(std::fabs(1.0f + 1.0f / fn +
                               dx * dx / (static_cast<float>(n - 1) * sx2)));
    C(5) = TSTUD * se / std::sqrt(std::fabs(sx2) * static_cast<float>(n - 1));
}

// SSN_NOAA: sunspot number and deviation of a month.
//   Given IYEAR (4 digits), IMON (1..12).
//   Returns SSN and SSNDEVOUT rounded to whole numbers (half away from zero): the file's
//   value with deviation 0, or for a month of the current cycle without a value the
//   regression on the earlier cycles with the half-width of its prediction interval.
//   SSN = -1, deviation 0, when there is no value and no prediction: a month outside the
//   table (before IYEAR0 or 300 years after it, or IMON outside 1..12), outside the 12
//   years from the year of the last cycle start, with fewer than 3 cycles in the
//   regression, before the current cycle's first measured month, or where a regression
//   would need a month outside the table.
//   Reads SUNSPT.ASC (platform lookup, or mod.data_dirs) on the first call of the run and
//   keeps its table in mod.SSNFILE; every lookup rebuilds SSNTAB and SSNDEV from it, so a
//   prediction never feeds the next lookup. Writes LASTV, LASTY, LASTM.
//   Stops (zelk::Stop) when the file is missing or malformed (READSSN).
void SSN_NOAA(Models& mod, std::ostream& out, int16_t IYEAR, int16_t IMON, float& SSN,
              float& SSNDEVOUT) {
    if (!mod.SSNREAD) {
        const std::string path = mod.data_dirs.empty()
                                     ? platform::data_path("SUNSPT.ASC")
                                     : platform::data_path("SUNSPT.ASC", mod.data_dirs);
        std::ifstream file;
        if (!path.empty()) file.open(path);
        if (path.empty()) throw Stop(MSGMISSING);
        if (!file.is_open()) throw Stop(MSGUNREADABLE);
        mod.SSNFILE.fill(SSNNONE);
        READSSN(file, out, mod.NCYCLE, mod.CYCBEGIN, mod.IYEAR0, mod.NYEARS, mod.SSNFILE);
        mod.SSNREAD = true;
    }
    mod.SSNTAB = mod.SSNFILE;
    mod.SSNDEV.fill(0.0f);

    SSN = SSNNONE;
    SSNDEVOUT = 0.0f;
    const int row = IYEAR - mod.IYEAR0 + 1;
    if (row < 1 || row > NSSNYR || IMON < 1 || IMON > 12) return;

    if (mod.SSNTAB(row, IMON) < 0.0f && mod.NCYCLE >= 1) {
        // Predict the months of the current cycle from its last measured month.
        const int s = mod.CYCBEGIN(mod.NCYCLE);
        const int ys = mod.IYEAR0 + s / 12;
        const int ms = s % 12;
        const bool enough = mod.NCYCLE - FIRSTREGCYC >= MINREGCYC;
        bool seen = false;  // a measured month of the current cycle has been met
        int npred = 0;
        F1<float, NSSNCYC> x, y;
        F1<float, 5> c;
        for (int iy = ys; iy <= ys + 11; ++iy) {
            const int r = iy - mod.IYEAR0 + 1;
            if (r > NSSNYR) break;
            for (int im = 1; im <= 12; ++im) {
                if (iy == ys && im < ms) continue;
                const float v = mod.SSNTAB(r, im);
                if (v >= 0.0f) {
                    mod.LASTV = v;
                    mod.LASTY = static_cast<int16_t>(iy);
                    mod.LASTM = static_cast<int16_t>(im);
                    seen = true;
                    continue;
                }
                // Without a measured month of this cycle there is no phase to start from.
                if (!seen) continue;
                ++npred;
                if (!enough) continue;
                // The value npred months after the same phase of each earlier cycle,
                // regressed on the value at that phase.
                const int offset = (mod.LASTY - ys) * 12 + (mod.LASTM - ms);
                bool inside = true;
                for (int ic = 1; ic <= mod.NCYCLE - 1; ++ic) {
                    const int kx = mod.CYCBEGIN(ic) + offset;
                    const int ky = kx + npred;
                    if (kx < 1 || ky > NMONTHS) {
                        inside = false;
                        break;
                    }
                    x(ic) = at(mod.SSNTAB, kx);
                    y(ic) = at(mod.SSNTAB, ky);
                }
                if (!inside) continue;
                c(3) = mod.LASTV;
                PERD(x, y, 0, mod.NCYCLE - 1, c);
                if (!std::isfinite(c(3)) || !std::isfinite(c(4))) continue;
                mod.SSNTAB(r, im) = c(3);
                mod.SSNDEV(r, im) = c(4);
            }
        }
    }
    // A value read or predicted; -1 stays -1.
    SSN = std::round(mod.SSNTAB(row, IMON));
    SSNDEVOUT = std::round(mod.SSNDEV(row, IMON));
}

}  // namespace zelk::models
