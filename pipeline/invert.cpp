// The inversion of one record as the pipeline sequences it: PROFIL1 (entry, sunspot lookup,
// trace list, DECIDE, result arrangement), DECIDE (the regions from the bottom up and the
// products at the points where the profile they need is complete) and bottomside_products.
#include <cmath>
#include <cstring>
#include <ostream>
#include <utility>

#include "core/markers.hpp"
#include "core/fortran_io.hpp"
#include "pipeline/pipeline.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

using fio::edit_value;

namespace {

// Version identifier stored with every record the inversion sees.
constexpr char VERSION_ID[9] = "VS.04.31";
// Markers of values that are not scaled: foF2 (MHz) and foF1 (MHz).
constexpr float FOF2_UNSCALED = 100.0f;
constexpr float FOF1_UNSCALED = 50.0f;
// Highest frequency line of the scaled foF2 that is inverted without question.
constexpr int IFOM_LASTLINE = 1024;
// Fraction of a frequency step by which FOF2P is raised above foF2.
constexpr float FOF2P_STEP = 0.1f;
// Number of quadrature points of the virtual-height integrals.
constexpr int16_t NGAUSS16 = 16;
// Smallest gyrofrequency handed to the kernels (MHz): keeps Y = FH/f finite and non-zero.
static constexpr float FH_MIN = 1.0e-7f;
// Largest dip magnitude (radians), just below 90 degrees, where tan I is still finite.
static constexpr float DIP_MAX = 1.569051f;
// The region summary line of an F layer: " F1:FS" or " F2:FS" with start, end, peak height,
// residual and the five coefficients, laid out as (A,F5.3,A,F6.3,A,F7.3,A,F6.3,A,3F8.3,2F7.3).
void write_f_line(std::ostream& os, const char* label, float fs, float fm, float zm, float er,
                  const F1<float, 7>& a) {
    using fio::edit_value;
    os << label << edit_value("(F5.3)", fs) << " FM" << edit_value("(F6.3)", fm) << " ZM"
       << edit_value("(F7.3)", zm) << " ER" << edit_value("(F6.3)", er) << " A="
       << fio::edit_line(fio::FortranFormat("(3F8.3,2F7.3)"), a.data() + 1, 5) << '\n';
}

// The parameter summary of PROFIL1 (IDEBUG >= 6).
void writeSummary(std::ostream& os, const inversion::Inversion& inv) {
    auto F = [](float x) { return edit_value("(F12.4)", x); };
    auto I = [](int32_t n) { return edit_value("(I6)", n); };
    os << " ***********\n"
       << " FOR ZELK, IN ADITION TO THE TRACE DATA\n"
       << "     E-TRACE IN TRACEL(K,3)\n"
       << "     F-TRACE IN ITRCF(K,2) & TRACEL(K,2)\n"
       << " THE FOLLOWING PARAMETERS ARE REQUIRED:\n";
    os << " TIME: IYR,IDAY,IHR,MINU=" << I(inv.IYR) << I(inv.IDAY)
       << I(inv.IHR) << I(inv.MINU) << '\n';
    os << " LOCATION=" << F(inv.LOCATION(1)) << F(inv.LOCATION(2)) << '\n';
    os << " FH/2(MHZ), DIP(RAD)=" << F(inv.FH2) << F(inv.DIP) << '\n';
    os << " FQINCR, HGRID=" << F(inv.FQINCR) << F(inv.HGRID) << '\n';
    os << " BASEHT(=RANGESTART-HGRID)=" << F(inv.BASEHT) << '\n';
    os << " E:    FOE, IFOE=" << F(inv.FOE) << I(inv.IFOE) << '\n';
    os << "    FMINE, MINFE=" << F(inv.FMINE) << I(inv.MINFE) << '\n';
    os << " F1: FOF1, IFOF1=" << F(inv.FOF1) << I(inv.IFOF1) << '\n';
    os << " F2: FOF2,  IFOM=" << F(inv.FOF2) << I(inv.IFOM) << '\n';
    os << "    FMINF, MINFF=" << F(inv.FMINF) << I(inv.MINFF) << '\n';
    os << " ***********\n";
}

}  // namespace

// bottomside_products: the products of an accepted F2 layer, at the point of the F2 stage
// where the bottomside is complete: the 1 km N(h) table (NHTABLE mode 0), the shape
// parameters of the bottomside model (CALB0B1D1, compared with that table) and the electron
// content (CALTEC).
void bottomside_products(Zelk& z) {
    products::NHTABLE(z.prod, solved_profile(z.inv), z.run.HSTEP, 0);
    models::Bottomside& bot = z.bot;
    bot.NPROW1 = z.prod.NPROW1;
    bot.PRFHT1 = z.prod.PRFHT1;
    bot.PRFFN1 = z.prod.PRFFN1;
    if (z.ahead) {
        // The search is left to the record's own copy of the context, with the profile it
        // is given here and the place of its diagnostics. The coefficient file is still made
        // current here, as the search would, so that it is looked up on disk once per input
        // file and the copies find it parsed; what the lookup has to say is the search's own.
        std::ostream quiet(nullptr);
        models::B0B1DT_current(bot, z.mod.data_dirs, Log{z.log.IDEBUG, &quiet});
        z.left.shape = true;
        z.left.shape_profile = solved_profile(z.inv);
        z.left.shape_at = static_cast<long long>(z.log.os().tellp());
    } else {
        models::CALB0B1D1(bot, solved_profile(z.inv), z.mod.data_dirs, z.log);
    }
    products::CALTEC(z.prod, solved_profile(z.inv), z.mod.data_dirs, z.log);
}

// make_left: the shape search and the quasi-parabolic fit that a context running ahead left
// (z.left), each given what it would have been given in the inversion, so that the results
// are those of the whole inversion. The fit reads the N(h) table as it stood at its place;
// the final table is put back after it.
void make_left(Zelk& z) {
    LeftToMake& left = z.left;
    if (left.shape) {
        models::CALB0B1D1(z.bot, left.shape_profile, z.mod.data_dirs, z.log);
        left.shape = false;
    }
    if (left.qp) {
        products::Products& prod = z.prod;
        const auto swap_tables = [&] {
            std::swap(prod.NPROW, left.qp_rows);
            std::swap(prod.PRFHT, left.qp_heights);
            std::swap(prod.PRFFN, left.qp_freqs);
        };
        swap_tables();
        products::QPFIT(prod, left.qp_profile, z.run.QPACC);
        swap_tables();
        left.qp = false;
    }
}

profile::SolvedProfile solved_profile(const inversion::Inversion& inv) {
    profile::SolvedProfile s;
    s.E = inversion::REGION(inv, 1);
    s.F1 = inversion::REGION(inv, 2);
    s.F2 = inversion::REGION(inv, 3);
    s.VW = inv.VW;
    s.VD = inv.VD;
    s.LF1 = inv.IQUALE(4) == 1;
    s.inverted = inv.IQUALE(2) == inversion::ISTAT_OK;
    return s;
}

// DECIDE: inverts the record whose trace list SETRCE has built (IOK = 1 when it accepted
// points). In this fixed order: the gyrofrequency is kept above 1e-7 MHz and a dip beyond
// 1.569051 rad is replaced by +1.569051; the dip constants are set on the first call of
// the run (GOGXCOM); DHE, DHV, DHF1 are cleared and NGAUSS = 16. With IOK = 0 only the
// auroral-E fit runs and ISTAT stays as it is; otherwise ISTAT = 2 and the stages follow:
// E (EPROF), valley (MAHAGULY), F1 (F1PROF, only when FOF1 <= 50 MHz, then HEIGHTCHK and
// PARAFITF unless the F1 layer is left to FPROF), F2 (FPROF); after an accepted F2 layer
// PARAFITF, QPFIT and the final N(h) table (NHTABLE mode 1). An accepted F2 layer starts the
// products of the bottomside (bottomside_products) before the region summary line. The first stage that leaves
// ISTAT different from 2 ends the climb; the auroral-E fit (EAPROF) always runs last, and
// its tabulation into the record's groups 58/59 (ea_table) after it.
// Writes the region summary lines at IDEBUG >= 2 and the display codes 1..5.
void DECIDE(Zelk& z, int16_t& IOK) {
    inversion::Inversion& inv = z.inv;
    models::Models& mod = z.mod;
    const inversion::Context cx = z.context();
    std::ostream& os = z.log.os();
    const bool verbose = z.log.IDEBUG >= 2;

    if (inv.FH < FH_MIN) inv.FH = FH_MIN;
    if (!(std::fabs(inv.DIPK) <= DIP_MAX)) inv.DIPK = DIP_MAX;
    // The constants are formed again whenever the dip differs from the one they were formed
    // from: a run over files of several stations must give each station's records the same
    // profiles as a run over that station alone.
    if (!(inv.DIPK == inv.GOGXDIP)) {
        inversion::GOGXCOM(inv, inv.DIPK);
        inv.GOGXDIP = inv.DIPK;
    }
    inv.DHE.fill(0.0f);
    inv.DHV.fill(0.0f);
    inv.DHF1.fill(0.0f);
    inv.NGAUSS = 16;

    // The stages run in a one-pass block; leaving it early is the "go to the auroral-E
    // fit" of a failed stage.
    do {
        if (IOK == 0) break;
        inv.ISTAT() = inversion::ISTAT_OK;

        inversion::EPROF(inv, mod, cx, inv.ER(1));
        if (inv.ISTAT() != inversion::ISTAT_OK) break;
        // The refined mode may choose the peak of an unseen E layer, with its valley, and
        // fits the valley to the traces.
        const bool fit_start = inv.refine.valley || inv.refine.xstart;
        const inversion::XTrace xt = fit_start ? x_trace(z.rec) : inversion::XTrace{};
        // With xstart, the X points join the F layers' least squares (add_x_rows).
        inversion::keep_x_trace(inv, xt);
        const bool e_fitted = fit_start && inversion::fit_e_peak(inv, mod, cx, xt);
        if (verbose) {
            using fio::edit_value;
            os << "  E:FS" << edit_value("(F5.3)", inv.FC(1)) << " FM"
               << edit_value("(F6.3)", inv.FC(2)) << " ZM" << edit_value("(F7.3)", inv.ZME)
               << " ER" << edit_value("(F6.3)", inv.ER(1)) << " A="
               << fio::edit_line(fio::FortranFormat("(3F8.3)"), inv.A_E.data() + 1, 3)
               << "    YE=" << edit_value("(F7.3)", inv.YE) << '\n';
        }
        cx.plot.stage(inversion::Stage::E, inv);
        cx.plot.stage(inversion::Stage::LAYER, inv);

        if (!e_fitted) {
            inversion::MAHAGULY(inv, mod, cx);
            if (inv.ISTAT() != inversion::ISTAT_OK) break;
            if (fit_start) inversion::fit_valley(inv, mod, cx, xt);
        }
        if (verbose) {
            using fio::edit_value;
            os << "  V:W" << edit_value("(F7.3)", inv.VW) << "(" << edit_value("(F7.3)", inv.VW1)
               << "+" << edit_value("(F7.3)", inv.VW2) << "+" << edit_value("(F7.3)", inv.VW3)
               << ") D" << edit_value("(F9.4)", inv.VD) << '\n';
        }
        cx.plot.stage(inversion::Stage::VALLEY, inv);

        if (inv.FOF1 <= 50.0f) {
            inversion::F1PROF(inv, mod, cx, inv.ER(2));
            // An F1 layer rejected for its roots goes to FPROF as a merged F1 layer in the
            // refined mode (merge_f1 sets KF1MODE 2).
            if (inv.ISTAT() != inversion::ISTAT_OK) inversion::merge_f1(inv);
            if (inv.KF1MODE != 2) {
                if (inv.ISTAT() != inversion::ISTAT_OK) break;
                inv.IRGN = 2;
                inversion::HEIGHTCHK(inv, cx);
                if (inv.ISTAT() > inversion::ISTAT_OK) break;
                if (verbose) write_f_line(os, " F1:FS", inv.FC(2), inv.FC(3), inv.ZMF1, inv.ER(2), inv.A_F1);
                inversion::PARAFITF(inv);
                cx.plot.stage(inversion::Stage::F1, inv);
                cx.plot.stage(inversion::Stage::LAYER, inv);
            }
        }

        if (inversion::FPROF(inv, mod, cx, inv.ER(3))) bottomside_products(z);
        if (inv.IROOT > 0 || inv.ISTAT() != inversion::ISTAT_OK) break;
        if (verbose) write_f_line(os, " F2:FS", inv.FC(3), inv.FC(4), inv.ZMF2, inv.ER(3), inv.A_F2);
        inv.IRGN = 3;
        inversion::PARAFITF(inv);
        cx.plot.stage(inversion::Stage::F2, inv);
        cx.plot.stage(inversion::Stage::LAYER, inv);
        if (z.ahead && z.run.QPACC > 0.0f) {
            // The fit is left to the record's own copy, with the table it would fit here.
            z.left.qp = true;
            z.left.qp_profile = solved_profile(inv);
            z.left.qp_rows = z.prod.NPROW;
            z.left.qp_heights = z.prod.PRFHT;
            z.left.qp_freqs = z.prod.PRFFN;
        } else {
            products::QPFIT(z.prod, solved_profile(inv), z.run.QPACC);
        }
        products::NHTABLE(z.prod, solved_profile(inv), z.run.HSTEP, 1);
    } while (false);

    inversion::EAPROF(inv, z.rec.AUXFN, z.rec.AUXHT, inv.EAFIT(6));
    products::ea_table(inv, z.run.HSTEP, z.prod.NPROW, z.rec.AUXFN, z.rec.AUXHT);
}

// PROFIL1: the true-height inversion of one record. Reads the inputs of the Inversion area
// (set from the record), the Models area (sunspot lookup, model foE) and IDEBUG; writes the
// per-record results of the Inversion and Products areas, ISTAT and LF1 (in IQUALE), and in
// the Models area the date (IYEAR, IMON, IDOM), LASTMON, ISSN and SSNDEVOUT.
//   1. Version identifier; entry lines (IDEBUG >= 5) and parameter summary (>= 6).
//   2. Per-record results cleared; SSNIN = ISSN.
//   3. Date of the record; on a new month the sunspot lookup, ISSN = its value truncated.
//   4. FH = 2 x FH/2, DIPK = DIP; FH or FQINCR not positive: " DATA ERROR" lines, no
//      inversion and no output arrangement.
//   5-7. SETCV; scaled foF2 beyond line 1024: ISTAT = 8 (with IDEBUG >= 2 a warning and no
//      inversion); FOF2P, LF1, work arrays cleared, NGAUSS = 16, SETRCE, DECIDE.
//   8. TOTOLMIR arranges the results for output.
// A sunspot lookup without a value for the month (the no-value marker -1) leaves ISSN as it
// was rather than handing the models a sunspot number of -1.
void PROFIL1(Zelk& z) {
    inversion::Inversion& inv = z.inv;
    const inversion::Context cx = z.context();
    models::Models& mod = z.mod;
    products::Products& prod = z.prod;
    models::Bottomside& bot = z.bot;
    std::ostream& os = z.log.os();
    const int16_t IDEBUG = z.log.IDEBUG;

    // 1. Version and entry diagnostics.
    std::memcpy(inv.VERSION, VERSION_ID, sizeof VERSION_ID);
    if (IDEBUG >= 5) {
        os << " ZELK STARTS HERE. IDEBUG=" << edit_value("(I4)", IDEBUG) << '\n';
        os << "  ZELK VERSION # = " << inv.VERSION << '\n';
    }
    if (IDEBUG >= 6) writeSummary(os, inv);

    // 2. Per-record results.
    for (int i = 1; i <= 3; ++i) inv.ER(i) = 0.0f;
    for (int i = 1; i <= 4; ++i) inv.FC(i) = 0.0f;
    inv.IROOTE = 0;
    inv.IROOTF1 = 0;
    inv.IROOTF2 = 0;
    inv.KF1MODE = 0;
    inv.KF1MODEP = 0;
    inv.FOEFIT = 0.0f;
    inv.ISTAT() = inversion::ISTAT_NO_TRACE;
    inv.NN = 0;
    prod.NPROW = 0;
    prod.NPROW1 = 0;
    bot.NPROW1 = 0;
    prod.NSEG = 0;
    inv.YE = NO_VALUE;
    inv.YF1 = NO_VALUE;
    inv.YF2 = NO_VALUE;
    bot.B0 = NO_VALUE;
    bot.B1 = NO_VALUE;
    bot.D1 = NO_VALUE;
    prod.ITEC = NO_VALUE;
    prod.H = NO_VALUE;
    inv.SSNIN = static_cast<float>(mod.ISSN);

    // 3. Date and sunspot number (shared with the model predictions in the Models area).
    inversion::month_day(inv.IYR, inv.IDAY, mod.IYEAR, mod.IMON, mod.IDOM);
    if (mod.IMON != mod.LASTMON) {
        mod.LASTMON = mod.IMON;
        float SSN = models::SSNNONE;
        models::SSN_NOAA(mod, os, mod.IYEAR, mod.IMON, SSN, mod.SSNDEVOUT);
        if (SSN >= 0.0f) mod.ISSN = static_cast<int16_t>(std::trunc(SSN));
    }

    // 4. Gyrofrequency and dip of the kernels.
    inv.DIPK = inv.DIP;
    inv.FH = 2.0f * inv.FH2;
    if (inv.FH <= 0.0f || inv.FQINCR <= 0.0f) {
        os << "     DIP ANGLE(RADIANS), GYROFREQUENCY (MHZ)=" << edit_value("(F12.4)", inv.DIPK)
           << edit_value("(F12.4)", inv.FH) << '\n';
        os << "     FQINCR (MHZ)=" << edit_value("(F12.4)", inv.FQINCR) << '\n';
        os << "      DATA ERROR: INVERSION IS IMPOSSIBLE!\n";
    } else {
        // 5. Derivative table of the basis.
        inversion::SETCV(inv);
        // 6. Scaled foF2 beyond the last frequency line.
        bool invert = true;
        if (inv.FOF2 < FOF2_UNSCALED && inv.IFOM > IFOM_LASTLINE) {
            inv.ISTAT() = inversion::ISTAT_F2_BAD;
            if (IDEBUG >= 2) {
                os << "   SCALED FOF2 > MAXIMUM FREQUENCY LINE!\n";
                invert = false;
            }
        }
        // 7. The inversion.
        if (invert) {
            if (inv.FOF2P <= inv.FOF2) inv.FOF2P = inv.FOF2 + inv.FQINCR * FOF2P_STEP;
            inv.LF1() = inv.FOF1 <= FOF1_UNSCALED ? 1 : 0;
            inv.TRF.fill(0.0f);
            inv.TRH.fill(0.0f);
            inv.FQ.fill(0.0f);
            inv.HV.fill(0.0f);
            inv.F2K.fill(0.0f);
            inv.DF2K.fill(0.0f);
            inv.A.fill(0.0f);
            inv.A_E.fill(0.0f);
            inv.A_F1.fill(0.0f);
            inv.A_F2.fill(0.0f);
            inv.ZME = 0.0f;
            inv.ZMF1 = 0.0f;
            inv.ZMF2 = 0.0f;
            inv.NGAUSS = NGAUSS16;
            int16_t IOK = 1;
            SETRCE(inv, cx, mod.FOEPRE, IOK);
            DECIDE(z, IOK);
        }
        // 8. Results arranged for output.
        TOTOLMIR(z);
    }

    // 9. Exit line.
    if (IDEBUG >= 5) os << " ZELK ENDS HERE.\n";
}

}  // namespace zelk::pipeline
