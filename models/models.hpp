// Ionospheric models: the model critical frequencies that start and bound the inversion
// (foE, foF1, foF2 from the classical IRI formulas and the URSI foF2 maps), the solar
// position and the geomagnetic dip they need, and the monthly sunspot number from the
// sunspot file with its prediction for the months the file does not cover.
//
// The bottomside shape parameters B0, B1, D1 are declared in models/b0b1d1.hpp.
//
// Units: angles in degrees, times in hours, frequencies in MHz, heights in km; latitude
// north positive, longitude east positive.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "core/markers.hpp"
#include "core/farray.hpp"

namespace zelk {
struct Log;
}

namespace zelk::models {

// Capacity of the sunspot table: years (rows) and solar cycles.
static constexpr int NSSNYR = 300;
static constexpr int NSSNCYC = 30;
// Values in one URSI coefficient file: two sets (sunspot number 0 and 100) of 988.
static constexpr int NF2SET = 988;
static constexpr int NF2COEF = 2 * NF2SET;

// "No value" of the sunspot table and of a lookup.
static constexpr float SSNNONE = -1.0f;

struct Models {
    // Model predictions of the current record (MHz, rounded to 0.001 MHz). FOF1PRE is
    // 9999.0 when no F1 layer is predicted. FOEPRE above 99 means "not yet predicted".
    float FOEPRE = NO_VALUE;
    float FOF1PRE = NO_VALUE;
    float FOF2PRE = NO_VALUE;

    // Date and sunspot number of the record, shared with the trace set-up of the
    // inversion, which performs the same month test and lookup. They persist across
    // records so that the sunspot lookup runs only when the month changes.
    int16_t IYEAR = 0;       // 4-digit year
    int16_t IMON = 0;        // month 1..12
    int16_t IDOM = 0;        // day of month
    int16_t LASTMON = -1;    // month of the last sunspot lookup; -1 before the first
    int16_t ISSN = 0;        // sunspot number used by the models (lookup truncated)
    float SSNDEVOUT = 0.0f;  // deviation of the last lookup (0 for a file value)

    // URSI coefficients: the month's file as read; after interpolation its first 988
    // entries are the set in use. COEFMON / COEFSSN: month and sunspot number (after the
    // limit of 150) for which F2COEF holds, -1 / -100 before the first read.
    F1<float, NF2COEF> F2COEF;
    int16_t COEFMON = -1;
    float COEFSSN = -100.0f;

    // Sunspot lookup tables (rebuilt by each lookup from the file contents below):
    // SSNTAB(row, month) with row 1 = IYEAR0, -1.0 = no value; SSNDEV the deviation
    // of each value, 0.0 for a value of the file.
    F2<float, NSSNYR, 12> SSNTAB;
    F2<float, NSSNYR, 12> SSNDEV;
    int16_t IYEAR0 = 0;              // year of row 1
    int16_t NYEARS = 0;              // rows holding values
    int16_t NCYCLE = 0;              // cycles counted
    F1<int16_t, NSSNCYC> CYCBEGIN;   // month index (1 = January of IYEAR0) of each cycle start

    // The sunspot file as read once per run: its table before any prediction.
    // SSNREAD is true once SSNFILE, IYEAR0, NYEARS, NCYCLE and CYCBEGIN hold the file.
    bool SSNREAD = false;
    F2<float, NSSNYR, 12> SSNFILE;

    // Last measured month of the current cycle seen by the prediction: value, year, month.
    float LASTV = 0.0f;
    int16_t LASTY = 0;
    int16_t LASTM = 0;

    // Directories searched for the data files of this run. Empty: the standard search of
    // platform::data_path (working directory, $ZELK_DATA, installed directory).
    std::vector<std::string> data_dirs;
};

// ---------------------------------------------------------------------------------------
// Model predictions

// Model foE, foF1, foF2 of the record into FOEPRE, FOF1PRE, FOF2PRE. Derives IYEAR, IMON,
// IDOM from IYR and IDAY, looks up the sunspot number when the month changed, then calls
// CALPREDF. Reads and writes the Models area; writes the listing for IDEBUG <= -6 to
// log.os(). Throws zelk::Stop when no URSI file of the month can be found, or from the
// sunspot lookup.
void PREDICT(Models& mod, const Log& log, float LATI, float LONGI, int16_t IYR,
             int16_t IDAY, int16_t IHR, int16_t MINU, int16_t ISEC);

// Model foE, foF1 (9999.0 when none) and foF2 for a place, month, day of year, universal
// time and sunspot number, each rounded to 0.001 MHz. Reads the month's URSI file into
// F2COEF when the month or the limited sunspot number changed. ISTATUS: 0 when the
// coefficients are available, non-zero when neither file of the month could be opened.
// Writes the listing for IDEBUG <= -11 to out.
void CALPREDF(Models& mod, std::ostream& out, float LATI, float LONGI, int16_t MONTH,
              int16_t IDAY, int16_t IHR, int16_t MINU, int16_t ISEC, float RSSN,
              int16_t IDEBUG, float& FOE, float& FOF1, float& FOF2, int32_t& ISTATUS);

// Solar declination and zenith angle (degrees), sunrise and sunset at the ground (local
// time, hours; 99 when the sun never sets, -99 when it never rises) for day of year IDAY,
// local time T (hours), latitude FLAT and east longitude ELON (degrees).
void SOCO(int16_t IDAY, float T, float FLAT, float ELON, float& DECLIN, float& ZENITH,
          float& SUNRSE, float& SUNSET);

// IRI foE (MHz) from the solar activity index COV, zenith angle XHI, noon zenith angle
// XNOON and absolute latitude ALAT (degrees). XNOON of 90 or more is set to 89.999.
float FOEPIRI(float COV, float XHI, float& XNOON, float ALAT);

// IRI foF1 (MHz) from absolute dip latitude YLATI (degrees), sunspot number R and zenith
// angle CHI (degrees); 0 when CHI is beyond the F1 limit.
float FOF1ED(float YLATI, float R, float CHI);

// Geomagnetic dip and modified dip (degrees) at latitude DLAT, longitude DLONG (degrees)
// and altitude ALT (km) from the fixed 144-coefficient field model.
void FIELDG(float DLAT, float DLONG, float ALT, float& DIP, float& MODIP);

// URSI map value (MHz) at modified dip SMODIP, latitude SLAT, longitude SLONG (degrees)
// and universal time HOUR (hours), from the coefficient set SFE(1..M3): IHARM time
// harmonics, NQ(1..K1) modified-dip terms per longitude harmonic, M coordinate functions
// of MM values each.
float GAMMA1(float SMODIP, float SLAT, float SLONG, float HOUR, int32_t IHARM,
             const F1<int32_t, 9>& NQ, int32_t K1, int32_t M, int32_t MM, int32_t M3,
             const F1<float, NF2COEF>& SFE);

// ---------------------------------------------------------------------------------------
// Sunspot numbers

// Sunspot number of year IYEAR (4 digits) and month IMON, with its deviation, both rounded
// to whole numbers (half away from zero). A month with a value in the file returns it
// with deviation 0; a later month of the current cycle is predicted from the earlier
// cycles. Returns SSN = -1 (SSNNONE), deviation 0, when the month has no value and no
// prediction (outside the table, outside the 12 years after the last cycle start, too
// few cycles for the regression, or no measured month of the current cycle before it).
// Reads SUNSPT.ASC on the first call of the run; writes the file-error lines to out.
// Throws zelk::Stop when the file is missing or malformed.
void SSN_NOAA(Models& mod, std::ostream& out, int16_t IYEAR, int16_t IMON, float& SSN,
              float& SSNDEVOUT);

// Reads the sunspot file from IN: cycle count NCYCLE, cycle starts CYCBEGIN, first year
// IYEAR0, number of rows NYEARS and the monthly values into SSNTAB (entries without a
// value are left as they are; the caller sets them to -1 first). Writes the file-error
// lines to out and throws zelk::Stop when the file is malformed.
void READSSN(std::istream& in, std::ostream& out, int16_t& NCYCLE,
             F1<int16_t, NSSNCYC>& CYCBEGIN, int16_t& IYEAR0, int16_t& NYEARS,
             F2<float, NSSNYR, 12>& SSNTAB);

// Least-squares regression of Y on X over cycles NSKIP..N (8..N when NSKIP is 0), and its
// value at x0 = C(3). Out: C(1) mean of Y, C(2) slope, C(3) predicted value, C(4)
// half-width of the prediction interval, C(5) half-width of the slope's confidence
// interval. Needs at least 3 cycles; with fewer the results are not finite.
void PERD(const F1<float, NSSNCYC>& X, const F1<float, NSSNCYC>& Y, int16_t NSKIP,
          int32_t N, F1<float, 5>& C);

}  // namespace zelk::models
