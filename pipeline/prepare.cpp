// Record preparation: from the Ionogram record to the inputs of the inversion.
#include "core/markers.hpp"
#include "pipeline/prepare.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "pipeline/zelk.hpp"

namespace zelk::pipeline {

using namespace iondata;

namespace {

using inversion::MAXLIN;

// Degrees to radians, pi/180 to the nine digits the dip conversion has always used.
static constexpr float DEG2RAD = 0.017453292f;

// Integer part of a line number or bin index computed in single precision; NOLINE when it
// does not fit (or is not a number), so that no conversion can overflow an int16.
int16_t to_index(float x) {
    if (!(x > -10000.0f && x < 10000.0f)) return NO_LINE;
    const auto k = static_cast<int32_t>(x);   // truncation toward zero
    return k > NO_LINE ? NO_LINE : static_cast<int16_t>(k);
}

// Frequency line of a scaled value: int((v + 0.0005) / FQINCR).
int16_t line_of(float v, float FQINCR) { return to_index((v + 0.0005f) / FQINCR); }

// Places one O-ray trace of n points on the frequency lines so that its last point lies on
// the line of fc and each earlier point one line lower. J = 2 (F) or 3 (E). When MINSLOT is
// 1 or 2, the line of a height below VHMIN(MINSLOT) becomes MINHF(MINSLOT).
void place_trace(Zelk& z, int J, float fc, int n, F1<int32_t, 400>* ivh400,
                 F1<int32_t, 150>* ivh150, const float* vh, int MINSLOT) {
    inversion::Inversion& inv = z.inv;
    const bool newlayout = z.rec.IDX(80) >= 2;
    const float FQINCR = inv.FQINCR;
    const float c = static_cast<float>(line_of(fc, FQINCR));
    for (int i = n; i >= 1; --i) {
        float h;
        if (newlayout) {
            h = vh[i];
        } else {
            int32_t& ih = ivh400 ? (*ivh400)(i) : (*ivh150)(i);
            if (ih == 999) ih = 9999;   // old layouts mark "no echo" with 999
            h = static_cast<float>(ih);
        }
        const float kf = (c * FQINCR - static_cast<float>(n - i) * FQINCR) / FQINCR + 0.001f;
        const int16_t K = to_index(kf);
        if (K < 1 || K > MAXLIN) continue;   // off the table: cannot be placed
        inv.TRACEL(K, J) = h;
        inv.ITRCF(K, J) = to_index((h - inv.BASEHT + 0.0005f) / inv.HGRID);
        if (MINSLOT > 0 && h < inv.VHMIN(MINSLOT)) {
            inv.VHMIN(MINSLOT) = h;
            inv.MINHF(MINSLOT) = K;
        }
    }
}

}  // namespace

int16_t prepare(Zelk& z) {
    IonogramRecord& rec = z.rec;
    inversion::Inversion& inv = z.inv;

    // Missing-height marker of the record's layout version.
    inv.HMISS = rec.IDX(80) >= 4 ? NO_VALUE : 999.0f;

    StampInfo st;
    const int16_t stamp = decode_stamp(rec, st);
    inv.LAYOUT = st.LAYOUT;
    inv.IOFF = st.IOFF;
    if (stamp == PREP_LAYOUT) return stamp;
    inv.ISTNCODE = st.ISTNCODE;
    inv.IYR = st.IYR;
    inv.IDAY = st.IDAY;
    inv.IHR = st.IHR;
    inv.MINU = st.MINU;
    inv.ISEC = st.ISEC;
    if (stamp == PREP_TIME) return stamp;

    station_name(rec.SYSDSC1, inv.STNAME);

    // Scaled characteristics. Entries 1..31 are taken as read; 32..43 hold the results of
    // an earlier analysis and are taken only when the record carries them.
    const F1<float, 120>& S = rec.SCALED;
    for (int k = 1; k <= 31; ++k) inv.CHARIN(k) = S(k);
    inv.FOF2 = S(1);
    inv.FOF1 = S(2) > 999.0f ? NO_VALUE : S(2);
    inv.FMINF = S(7);
    inv.FMINE = S(8);
    inv.FOE = S(9);
    inv.HPF = S(11);
    inv.HPF2 = S(12);
    inv.HPE = S(13);
    inv.HPES = S(14);
    inv.ZME = S(15);
    inv.YE = S(16);
    // The model foE and foF1 of an earlier analysis start the model values of this record.
    inv.REALIN(43) = S(28);
    inv.REALIN(44) = S(31);
    z.mod.FOEPRE = S(28);
    z.mod.FOF1PRE = S(31);
    if (rec.IDX(4) > 31) {
        for (int k = 32; k <= 43; ++k) inv.CHARIN(k) = S(k);
        inv.ZMF2 = S(32);
        inv.ZMF1 = S(33);
        inv.HHALF = S(34);
        z.mod.FOF2PRE = S(35);
        inv.YF2 = S(37);
        inv.YF1 = S(38);
        z.prod.ITEC = S(39);
        z.prod.H = S(40);
        z.bot.B0 = S(41);
        z.bot.B1 = S(42);
        z.bot.D1 = S(43);
    }

    // Geophysical constants.
    inv.FH2 = rec.GCONST(1) * 0.5f;
    inv.DIP = rec.GCONST(2) * DEG2RAD;
    inv.LOCATION(1) = inv.REALIN(1) = rec.GCONST(3);
    inv.LOCATION(2) = inv.REALIN(2) = rec.GCONST(4);
    const float ssn = rec.GCONST(5);
    z.mod.ISSN = (ssn > -32768.0f && ssn < 32768.0f) ? static_cast<int16_t>(ssn) : int16_t{0};

    // Sounder settings.
    inv.FQINCR = st.FQINCR;
    inv.HGRID = st.HGRID;
    inv.BASEHT = st.BASEHT;
    if (stamp != PREP_OK) return stamp;
    if (!station_fault(rec).empty()) return PREP_STATION;

    inv.IQUALE(10) = static_cast<int16_t>(rec.AFLAGS(10));
    inv.IQUALE(4) = inv.FOF1 < 50.0f ? 1 : 0;
    inv.NE = static_cast<int16_t>(rec.IDX(17));
    inv.NF = static_cast<int16_t>(rec.IDX(7));

    // Traces on the frequency lines: F2, then F1, then E (the order of the running minima).
    if (rec.IDX(7) > 0) {
        if (inv.FOF2 > 99.0f) return PREP_FOF2;
        const int n = std::min<int>(rec.IDX(7), 400);
        place_trace(z, 2, inv.FOF2, n, &rec.IVHOF2, nullptr, rec.VHOF2.data(),
                    inv.IQUALE(4) == 1 ? 2 : 1);
    }
    if (rec.IDX(12) > 0) {
        const int n = std::min<int>(rec.IDX(12), 150);
        place_trace(z, 2, inv.FOF1, n, nullptr, &rec.IVHOF1, rec.VHOF1.data(), 1);
    }
    inv.IQUALE(1) = 2;
    if (rec.IDX(17) > 0) {
        inv.IQUALE(1) = 1;
        const int n = std::min<int>(rec.IDX(17), 150);
        place_trace(z, 3, inv.FOE, n, nullptr, &rec.IVHOE, rec.VHOE.data(), 0);
    }

    // Auroral-E profile groups: start from the scaled auroral-E trace when it is complete.
    rec.AUXHT.fill(0.0f);
    rec.AUXFN.fill(0.0f);
    const int nea = rec.IDX(47);
    if (nea > 0 && nea == rec.IDX(50)) {
        for (int i = 1; i <= std::min(nea, 150); ++i) {
            rec.AUXFN(i) = rec.FQOEA(i);
            rec.AUXHT(i) = rec.VHOEA(i);
        }
    }

    // Line indices of the scaled frequencies; 9999 where the value is not scaled.
    auto index_if = [&](float v, float hi) { return (v > 0.0f && v < hi) ? line_of(v, inv.FQINCR) : NO_LINE; };
    inv.IFOE = index_if(inv.FOE, 10.0f);
    inv.MINFE = index_if(inv.FMINE, 10.0f);
    inv.IFOM = index_if(inv.FOF2, 50.0f);
    inv.IFOF1 = index_if(inv.FOF1, 50.0f);
    inv.MINFF = index_if(inv.FMINF, 50.0f);
    return PREP_OK;
}

}  // namespace zelk::pipeline
