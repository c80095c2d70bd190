// The record update: after the inversion of a record, its results and products are put
// into the Ionogram record so that WRITVXO writes them in layout version 5. The update
// runs for every record that went through the inversion, whatever its status; the status
// decides which result groups are filled.
#include "core/markers.hpp"
#include "pipeline/update.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "pipeline/result.hpp"
#include "pipeline/zelk.hpp"
#include "core/fortran_io.hpp"

namespace zelk::pipeline {

using iondata::IonogramRecord;

namespace {

// Marker of a result that was not determined.
// Successful inversion status (ISTAT).
// Length of a time stamp that carries the 19-character prefix.
static constexpr int STAMP_PREFIXED = 77;
// Characters of the old stamp kept behind the prefix, and the prefix length.
static constexpr int STAMP_KEPT = 58;
static constexpr int STAMP_PREFIX = 19;
// Largest profile edit count: the flags are single digits.
static constexpr int32_t EDIT_COUNT_MAX = 9;
// Earth radius closing the quasi-parabolic segment group (km).
static constexpr double EARTH_RADIUS = 6370.0;

// Step 1: the time stamp gets the 19-character prefix unless it already has one. A stamp
// beginning "AA" already carries the prefix of a converted record; prefixing it again would
// shift its characters a second time and the record preparation could no longer decode it,
// so it is kept as it stands, like "FF" and "FE" stamps.
void update_stamp(Zelk& z) {
    IonogramRecord& rec = z.rec;
    const char c1 = rec.TSTAMP(1), c2 = rec.TSTAMP(2);
    const bool prefixed =
        (c1 == 'F' && (c2 == 'F' || c2 == 'E')) || (c1 == 'A' && c2 == 'A');
    if (prefixed) return;
    rec.IDX(3) = STAMP_PREFIXED;
    const inversion::Inversion& inv = z.inv;
    PREF4KMW(z.run.FMTVXO, rec.TSTAMP, z.mod.IYEAR, inv.IDAY, z.mod.IMON, z.mod.IDOM, inv.IHR,
             inv.MINU, inv.ISEC);
}

// Steps 2 to 4: the scaled characteristics and the sunspot number.
void update_characteristics(Zelk& z) {
    IonogramRecord& rec = z.rec;
    const inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    F1<float, 120>& S = rec.SCALED;

    S(1) = inv.FOF2;
    S(2) = inv.FOF1;
    S(3) = inv.CHARIN(3);
    S(6) = inv.CHARIN(6);
    rec.GCONST(5) = static_cast<float>(z.mod.ISSN);
    S(7) = inv.FMINF;
    S(8) = inv.FMINE;
    const int16_t ie = inv.IQUALE(1);
    if (ie == 1 || ie == 3) S(9) = inv.FOE;
    else if (ie == 2) S(9) = NO_VALUE;
    for (int k : {10, 17, 18, 21, 25}) S(k) = inv.CHARIN(k);
    S(11) = inv.HPF;
    S(12) = inv.HPF2;
    S(13) = inv.HPE;
    S(14) = inv.HPES;
    S(15) = inv.ZME;
    S(16) = inv.YE;

    // Offset of foF2 above its frequency line (MHz). The record preparation refuses a zero
    // frequency step, so FQINCR > 0 here; the test keeps a hand-filled record safe.
    if (inv.FOF2 < 99.0f && inv.FQINCR > 0.0f) {
        const auto line = static_cast<int32_t>((inv.FOF2 + 0.0005f) / inv.FQINCR);
        S(27) = inv.FOF2 - static_cast<float>(line) * inv.FQINCR;
    }

    // The model foE, foF1 and foF2 of the record, as the inversion left them (the values
    // the record brought in when no prediction was made).
    S(28) = z.mod.FOEPRE;
    S(31) = z.mod.FOF1PRE;
    S(32) = inv.ZMF2;
    S(33) = inv.ZMF1;
    S(34) = inv.HHALF;
    S(35) = z.mod.FOF2PRE;
    // (36) keeps its input value.
    S(37) = inv.YF2;
    S(38) = inv.YF1;
    S(39) = prod.ITEC;
    S(40) = prod.H;
    S(41) = z.bot.B0;
    S(42) = z.bot.B1;
    S(43) = z.bot.D1;
    if (inv.IQUALE(2) != inversion::ISTAT_OK) {
        for (int k : {32, 33, 34, 37, 38, 39, 40, 41, 42, 43}) S(k) = NO_VALUE;
    }
    if (inv.FOF1 == inv.FOF2) {
        S(33) = NO_VALUE;
        S(38) = NO_VALUE;
    }
    if (rec.IDX(4) < 43) rec.IDX(4) = 43;
}

// Steps 5 to 9: the profile descriptions of the F2, F1, E and auroral-E layers and the
// quasi-parabolic segments (which regions are described: region_descriptions).
void update_descriptions(Zelk& z) {
    IonogramRecord& rec = z.rec;
    inversion::Inversion& inv = z.inv;

    const RegionDescriptions d = region_descriptions(z);
    auto put = [](const std::optional<RegionDescription>& r, int32_t& count, int32_t n, auto& group) {
        count = r ? n : 0;
        if (!r) return;
        group(1) = r->start;
        group(2) = r->end;
        group(3) = r->peak_height;
        group(4) = r->residual;
        for (int j = 1; j <= r->ncoef; ++j) group(4 + j) = r->coef[j - 1];
    };
    put(d.F2, rec.IDX(37), 10, rec.PCOEF2);
    if (d.F2) rec.PCOEF2(10) = inv.HHALF;
    put(d.F1, rec.IDX(38), 9, rec.PCOEF1);
    put(d.E, rec.IDX(39), 7, rec.PCOEFE);

    // Auroral E: laid out like the E description (start 0.2 MHz, critical frequency, peak
    // height, residual, three coefficients); groups 58 to 60 hold its tabulation.
    if (inv.EAFIT(7) != 0.0f) {
        rec.IDX(57) = 7;
        rec.VALDSC(1) = 0.2f;
        rec.VALDSC(2) = inv.EAFIT(7);
        rec.VALDSC(3) = inv.EAFIT(5);
        rec.VALDSC(4) = inv.EAFIT(6);
        for (int j = 1; j <= 3; ++j) rec.VALDSC(4 + j) = inv.EAFIT(j);
        rec.IDX(58) = rec.IDX(59) = rec.IDX(60) = inv.NEAROW;
    } else {
        for (int g = 57; g <= 60; ++g) rec.IDX(g) = 0;
    }

    // Quasi-parabolic segments: six values per segment, then the Earth radius.
    const std::vector<QpSegment> segs = qp_segments(z);
    if (!segs.empty()) {
        int k = 0;
        for (const QpSegment& q : segs) {
            for (double v : {q.bottom, q.top, q.a, q.b, q.c, q.error}) rec.QPSEGS(++k) = v;
        }
        rec.QPSEGS(++k) = EARTH_RADIUS;
        rec.IDX(40) = k;
    } else {
        rec.IDX(40) = 0;
    }
}

// Step 15: the version mark "ZK n.nn" in the system description.
void update_version_mark(Zelk& z) {
    IonogramRecord& rec = z.rec;
    if (rec.IDX(2) == 0) rec.IDX(2) = 1;
    char ver[4] = {' ', ' ', ' ', ' '};
    const std::string& id = z.run.VERSID;
    for (int i = 0; i < 4 && 4 + i < static_cast<int>(id.size()); ++i) ver[i] = id[4 + i];

    F1<char, 120>& L = rec.SYSDSC1;
    for (int p = 1; p <= 114; ++p) {
        if (L(p) == 'Z' && L(p + 1) == 'K' && L(p + 2) == ' ' && L(p + 4) == '.') {
            for (int i = 0; i < 4; ++i) L(p + 3 + i) = ver[i];
            return;
        }
    }
    int last = 0;
    for (int p = 120; p >= 1; --p) {
        if (L(p) != ' ') {
            last = p;
            break;
        }
    }
    const char mark[] = {',', ' ', 'Z', 'K', ' ', ver[0], ver[1], ver[2], ver[3]};
    int first = 0;
    int pos = 0;
    if (last > 1) {
        pos = last + 1;
    } else {
        first = 2;   // a blank or one-character line begins with the mark itself
        pos = 1;
    }
    for (int i = first; i < static_cast<int>(sizeof mark) && pos <= 120; ++i) L(pos++) = mark[i];
}

}  // namespace

// PREF4KMW: prefixes a time stamp with the record's date and time.
//
// Given the flag (the input-format flag: 'Y' for VXO input), the stamp, the 4-digit year,
// day of year, month, day of month, hour, minute and second. Characters 1 to 58 of the stamp
// move to positions 20 to 77; positions 1 and 2 become "FE" for flag 'Y' and "AA" for any
// other flag; positions 3 to 19 hold the year (4 digits), day of year (3), month (2), day of
// month (2), hour, minute and second (2 each), each right-aligned with leading zeros.
// Characters 59 and 60 of a 60-character stamp are not kept. A value that does not fit its
// field is written as asterisks.
void PREF4KMW(char FLAG, F1<char, 120>& TSTAMP, int IYEAR, int IDAY, int IMON, int IDOM,
              int IHR, int MINU, int ISEC) {
    for (int p = STAMP_KEPT; p >= 1; --p) TSTAMP(p + STAMP_PREFIX) = TSTAMP(p);
    TSTAMP(1) = FLAG == 'Y' ? 'F' : 'A';
    TSTAMP(2) = FLAG == 'Y' ? 'E' : 'A';
    const int32_t v[7] = {IYEAR, IDAY, IMON, IDOM, IHR, MINU, ISEC};
    const std::string prefix = fio::edit_line(fio::FortranFormat("(I4.4,I3.3,5I2.2)"), v, 7);
    for (int p = 3; p <= STAMP_PREFIX; ++p) TSTAMP(p) = prefix[static_cast<size_t>(p - 3)];
}

// update_record: puts the results of the inversion into the Ionogram record.
//
// Given the run context after PROFIL1 (and its result arrangement). Reads the Inversion,
// Products and Models areas and the run settings (FMTVXO, VERSID); writes the record: the
// time stamp (prefixed, index element 3 = 77), the scaled characteristics 1 to 43 and the
// sunspot number GCONST(5), the profile descriptions (groups 37, 38, 39), the auroral-E
// description (57, with the counts of 58 to 60), the quasi-parabolic segments (40), the
// edit flags (41, 56), the valley (42), the counts of the N(h) table (51 to 53) with its
// rows, the analysis flags (5), the version mark of the system description (2) and the
// layout version 5 (index element 80).
//
// When the inversion failed (ISTAT not 2) the peak heights, HHALF, the semi-thicknesses,
// the electron content and the shape parameters are written as 9999.0 and the groups 37,
// 38 and 42 are left out.
void update_record(Zelk& z) {
    IonogramRecord& rec = z.rec;
    inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    const int16_t istat = inv.ISTAT();

    update_stamp(z);
    update_characteristics(z);
    update_descriptions(z);

    // The profile edit flags the record did not carry start from 0: the array still holds
    // those of an earlier record, whose edit count would otherwise grow from record to
    // record.
    for (int i = std::max(rec.IDX(56), 0) + 1; i <= 120; ++i) rec.EDITFL(i) = 0;
    // Old layouts kept the profile edit flags in entries 50 to 54 of the characteristics'
    // edit flags.
    if (rec.IDX(80) < 2) {
        for (int i = 1; i <= 5; ++i) {
            rec.EDITFL(i) = rec.EDITCH(49 + i);
            rec.EDITCH(49 + i) = 0;
        }
    }
    // The edit count is one digit in the file: it stops at 9 (a wider value could not be
    // read back).
    if (rec.EDITFL(4) < EDIT_COUNT_MAX) rec.EDITFL(4) += 1;
    rec.IDX(56) = 120;

    if (istat == inversion::ISTAT_OK) {
        rec.IDX(42) = 2;
        rec.VALLEY(1) = inv.VWOUT;
        rec.VALLEY(2) = inv.VDOUT;
    } else {
        rec.IDX(42) = 0;
    }

    const int rows = prod.NPROW;
    for (int i = 1; i <= rows; ++i) {
        rec.PRFHT(i) = prod.PRFHT(i);
        rec.PRFFN(i) = prod.PRFFN(i);
    }
    rec.IDX(51) = rec.IDX(52) = rec.IDX(53) = rows;

    // The 20 record quality flags become analysis flags 1 to 20. The group is written with at
    // least these 20 flags, so the status of the inversion reaches the output even when the
    // input had no such group.
    for (int i = 1; i <= inv.IQUALE.size(); ++i) rec.AFLAGS(i) = inv.IQUALE(i);
    if (rec.IDX(5) < 20) rec.IDX(5) = 20;

    update_version_mark(z);
    rec.IDX(80) = iondata::VXO_VERSION_OUT;
}

}  // namespace zelk::pipeline
