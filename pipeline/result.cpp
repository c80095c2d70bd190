// The result of one record.
#include "core/markers.hpp"
#include "pipeline/result.hpp"

#include <algorithm>
#include <cmath>

#include "iondata/stamp.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

namespace {

static constexpr float FMAXE = 99.0f;     // frequencies of 99 MHz and more are not scaled
static constexpr float FMAXF1 = 50.0f;    // foF1 above 50 MHz is not scaled
static constexpr float HMAX = NO_VALUE;    // heights and widths: below the missing marker

// A value that is missing: not a number, or the 9999 marker (allowing for its float
// rounding), or outside the range a quantity of its kind can take.
Value value(float x, float lo, float hi, int decimals = 3) {
    Value f;
    f.decimals = decimals;
    if (std::isfinite(x) && x > lo && x < hi && std::fabs(x - NO_VALUE) > 0.5f) f.v = x;
    return f;
}

}  // namespace

RegionDescriptions region_descriptions(const Zelk& z) {
    const inversion::Inversion& inv = z.inv;
    const int16_t istat = inv.ISTAT();
    const bool ok = istat == static_cast<int16_t>(Status::INVERTED);
    RegionDescriptions d;
    auto make = [](float start, float end, float peak, float residual, const auto& coef, int n) {
        RegionDescription r{start, end, peak, residual, n, {}};
        for (int j = 1; j <= n; ++j) r.coef[j - 1] = coef(j);
        return r;
    };
    // The boundary frequencies in the order the result arrangement leaves them: FC(2) holds
    // foF1 (the start of the F2 region), FC(4) foE or 0; the F2 region ends at the solved
    // foF2, which the arrangement has put into FOF2.
    if (ok && inv.IROOTF1 == 0 && inv.IROOTF2 == 0) d.F2 = make(inv.FC(2), inv.FOF2, inv.ZMF2, inv.ER(3), inv.A_F2, 5);
    if (ok && inv.IROOTF1 == 0 && inv.LF1() == 1) d.F1 = make(inv.FC(4), inv.FC(2), inv.ZMF1, inv.ER(2), inv.A_F1, 5);
    const int16_t ie = inv.IQUALE(1);
    if ((ie == 1 && istat != static_cast<int16_t>(Status::E_UNREASONABLE)) || ((ie == 2 || ie == 3) && ok)) {
        d.E = make(inv.FC(1), inv.FC(4) != 0.0f ? inv.FC(4) : inv.FC(2), inv.ZME, inv.ER(1), inv.A_E, 3);
    }
    return d;
}

std::vector<QpSegment> qp_segments(const Zelk& z) {
    const products::Products& prod = z.prod;
    const int nseg = std::min<int>(prod.NSEG, products::MAXSEG);
    std::vector<QpSegment> segs;
    for (int i = 1; i <= nseg; ++i) {
        segs.push_back({i == 1 ? prod.R0 : prod.RTOP(i - 1), prod.RTOP(i), prod.QA(i), prod.QB(i), prod.QC(i),
                        static_cast<double>(prod.QERR(i))});
    }
    return segs;
}

const char* status_text(int16_t ISTAT) {
    switch (static_cast<Status>(ISTAT)) {
        case Status::NO_TRACE: return "no usable trace points";
        case Status::INVERTED: return "profile inverted";
        case Status::E_RANGE: return "E region frequency range error";
        case Status::F2_RANGE: return "F2 region frequency range error";
        case Status::F1_RANGE: return "F1 region frequency range error";
        case Status::E_UNREASONABLE: return "E trace physically unreasonable";
        case Status::F2_UNREASONABLE: return "F2 trace unreasonable";
        case Status::F1_UNREASONABLE: return "F1 trace unreasonable";
        case Status::F1_THICK: return "F1 layer solution too thick";
        case Status::F1_OSCILLATES: return "F1 layer solution oscillates";
        case Status::F2_FEW: return "too few F2 points";
        case Status::F2_OSCILLATES: return "F2 solution oscillates or fits badly";
        case Status::F1_ROOTS: return "F1 layer roots too severe to correct";
        case Status::F2_ROOTS: return "F2 layer roots too severe to correct";
    }
    return "unknown status";
}

const char* made_by_text(inversion::MadeBy m) {
    switch (m) {
        case inversion::MadeBy::STANDARD: return "standard";
        case inversion::MadeBy::REFINED: return "refined";
        case inversion::MadeBy::REFINED_F1_MERGED: return "refined-f1-merged";
        case inversion::MadeBy::FALLBACK: return "fallback";
    }
    return "standard";
}

// record_result: what a failed inversion leaves out. The model foE (IQUALE(1) = 2) is no
// foE of the record; the heights, the shape and the content of the F layers belong to an
// inverted profile only; an F1 height only for an F1 layer apart from the F2 peak.
RecordResult record_result(const Zelk& z) {
    const inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    RecordResult r;
    r.station.assign(inv.STNAME, 20);
    r.station.erase(r.station.find_last_not_of(' ') + 1);
    r.station_code = inv.ISTNCODE;
    r.time = iondata::iso_time(inv.IYR, inv.IDAY, inv.IHR, inv.MINU, inv.ISEC);
    r.istat = inv.IQUALE(2);
    r.status = status_text(r.istat);

    const bool ok = r.istat == static_cast<int16_t>(Status::INVERTED);
    const bool f1 = inv.FOF1 <= FMAXF1 && inv.FOF1 != inv.FOF2;
    const Value none;
    const Value values[RecordResult::NCHAR] = {
        (inv.IQUALE(1) == 2) ? none : value(inv.FOE, 0.0f, FMAXE),
        value(inv.ZME, 0.0f, HMAX),
        value(inv.FOF1, 0.0f, FMAXF1 + 0.0005f),
        (ok && f1) ? value(inv.ZMF1, 0.0f, HMAX) : none,
        value(inv.FOF2, 0.0f, FMAXE),
        ok ? value(inv.ZMF2, 0.0f, HMAX) : none,
        ok ? value(inv.HHALF, 0.0f, HMAX) : none,
        ok ? value(inv.YF2, 0.0f, HMAX) : none,
        ok ? value(z.bot.B0, 0.0f, HMAX, 2) : none,
        ok ? value(z.bot.B1, 0.0f, HMAX, 2) : none,
        ok ? value(z.bot.D1, -HMAX, HMAX, 2) : none,
        ok ? value(prod.ITEC, 0.0f, HMAX) : none,
        ok ? value(prod.H, 0.0f, HMAX) : none,
    };
    for (int c = 0; c < RecordResult::NCHAR; ++c) r.characteristic[c] = values[c];
    r.n_qp = prod.NSEG;
    r.er_F2 = value(inv.ER(3), 0.0f, HMAX);
    r.regions = region_descriptions(z);
    r.qp = qp_segments(z);
    if (inv.refine.any()) r.mode = made_by_text(inv.made_by);
    return r;
}

}  // namespace zelk::pipeline
