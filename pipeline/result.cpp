// The result of one record.
#include "pipeline/result.hpp"

#include <cmath>

#include "iondata/stamp.hpp"
#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

namespace {

static constexpr float FMAXE = 99.0f;     // frequencies of 99 MHz and more are not scaled
static constexpr float FMAXF1 = 50.0f;    // foF1 above 50 MHz is not scaled
static constexpr float HMAX = 9999.0f;    // heights and widths: below the missing marker

// A value that is missing: not a number, or the 9999 marker (allowing for its float
// rounding), or outside the range a quantity of its kind can take.
Value value(float x, float lo, float hi, int decimals = 3) {
    Value f;
    f.decimals = decimals;
    if (std::isfinite(x) && x > lo && x < hi && std::fabs(x - 9999.0f) > 0.5f) f.v = x;
    return f;
}

}  // namespace

const char* STATUS_TEXT(int16_t ISTAT) {
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

const char* MADE_BY_TEXT(inversion::MadeBy m) {
    switch (m) {
        case inversion::MadeBy::STANDARD: return "standard";
        case inversion::MadeBy::REFINED: return "refined";
        case inversion::MadeBy::REFINED_F1_MERGED: return "refined-f1-merged";
        case inversion::MadeBy::FALLBACK: return "fallback";
    }
    return "standard";
}

// RECORD_RESULT: what a failed inversion leaves out. The model foE (IQUALE(1) = 2) is no
// foE of the record; the heights, the shape and the content of the F layers belong to an
// inverted profile only; an F1 height only for an F1 layer apart from the F2 peak.
RecordResult RECORD_RESULT(const Zelk& z) {
    const inversion::Inversion& inv = z.inv;
    const products::Products& prod = z.prod;
    RecordResult r;
    r.station.assign(inv.STNAME, 20);
    r.station.erase(r.station.find_last_not_of(' ') + 1);
    r.station_code = inv.ISTNCODE;
    r.time = iondata::ISO_TIME(inv.IYR, inv.IDAY, inv.IHR, inv.MINU, inv.ISEC);
    r.istat = inv.IQUALE(2);
    r.status = STATUS_TEXT(r.istat);

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
    if (inv.refine.any()) r.mode = MADE_BY_TEXT(inv.made_by);
    return r;
}

}  // namespace zelk::pipeline
