// Record preparation: from the Ionogram record to the inputs of the inversion.
#include "iondata/prepare.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/zelk.hpp"

namespace zelk::iondata {

namespace {

using inversion::MAXLIN;

static constexpr float NOVAL = 9999.0f;          // marker of a value not scaled / no echo
// Degrees to radians, pi/180 to the nine digits the dip conversion has always used.
static constexpr float DEG2RAD = 0.017453292f;
static constexpr int16_t NOLINE = 9999;          // line index of a value not scaled

// Integer part of a line number or bin index computed in single precision; NOLINE when it
// does not fit (or is not a number), so that no conversion can overflow an int16.
int16_t to_index(float x) {
    if (!(x > -10000.0f && x < 10000.0f)) return NOLINE;
    const auto k = static_cast<int32_t>(x);   // truncation toward zero
    return k > NOLINE ? NOLINE : static_cast<int16_t>(k);
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

// Frequency step, height step and range start from the time stamp (see PREPARE).
void sounder_settings(StampInfo& st, const F1<char, 120>& TS) {
    auto d = [&](int p) { return static_cast<float>(CHAR_NUM(TS(p))); };
    st.FQINCR = 0.0f;
    st.HGRID = 0.0f;
    st.BASEHT = -999.0f;
    if (st.LAYOUT == 2) {
        float FQINCR = d(33) + 0.1f * d(34) + 0.01f * d(35) + 0.001f * d(36);
        // A stamp may give the step of a multi-step sweep (m steps) in a second field; a
        // step of 0.005 MHz with two steps is the sounder's fine mode and is ignored.
        const int m = CHAR_NUM(TS(47));
        if (m >= 2) {
            const float g = d(42) + 0.1f * d(43) + 0.01f * d(44) + 0.001f * d(45);
            if (g <= 0.0f) {
                FQINCR = FQINCR / static_cast<float>(m);
            } else if (m != 2 || std::fabs(g - 0.005f) > 0.00001f) {
                FQINCR = g;
            }
        }
        st.FQINCR = static_cast<float>(static_cast<int32_t>(FQINCR * 1000.0f + 0.5f)) / 1000.0f;
        switch (TS(60)) {
            case '2': st.HGRID = 2.5f; break;
            case '5': st.HGRID = 5.0f; break;
            case 'A': st.HGRID = 10.0f; break;
            default: break;
        }
        st.BASEHT = 1000.0f * d(56) + 100.0f * d(57) + 10.0f * d(58) + d(59) - st.HGRID;
        return;
    }
    switch (TS(35 + st.IOFF)) {
        case '0': st.FQINCR = 0.2f; break;
        case '1': st.FQINCR = 0.1f; break;
        case '2': st.FQINCR = 0.05f; break;
        case '3': st.FQINCR = 0.025f; break;
        case '4': st.FQINCR = 0.01f; break;
        default: st.FQINCR = 0.005f; break;
    }
    switch (TS(54 + st.IOFF)) {
        case '0': st.HGRID = 2.5f; break;
        case '1': st.HGRID = 5.0f; break;
        default: st.HGRID = 10.0f; break;
    }
    switch (TS(55 + st.IOFF)) {
        case '0': st.BASEHT = 0.0f; break;
        case '1': st.BASEHT = 10.0f - st.HGRID; break;
        case '2': st.BASEHT = 60.0f - st.HGRID; break;
        case '3': st.BASEHT = 160.0f - st.HGRID; break;
        default: break;
    }
}

}  // namespace

const char* PREP_TEXT(int16_t status) {
    switch (status) {
        case PREP_OK: return "prepared";
        case PREP_LAYOUT: return "time stamp layout not recognised";
        case PREP_TIME: return "date or time out of range";
        case PREP_SOUNDER: return "no frequency step, height step or range start";
        case PREP_FOF2: return "F2 trace without a usable foF2";
        case PREP_STATION: return "impossible station constant";
        default: return "unknown";
    }
}

std::string STATION_FAULT(const IonogramRecord& rec) {
    struct Limit {
        int k;
        const char* name;
        float lo, hi;
    };
    static constexpr Limit LIMITS[] = {
        {1, "gyrofrequency", 0.0f, 5.0f},
        {2, "dip", -90.0f, 90.0f},
        {3, "latitude", -90.0f, 90.0f},
        {4, "longitude", -360.0f, 360.0f},
        {5, "sunspot number", 0.0f, 1000.0f},
    };
    for (const Limit& l : LIMITS) {
        const float v = rec.GCONST(l.k);
        const bool ok = std::isfinite(v) && v >= l.lo && v <= l.hi;
        if (ok) continue;
        char buf[120];
        std::snprintf(buf, sizeof buf, "%s %g outside %g to %g", l.name, static_cast<double>(v),
                      static_cast<double>(l.lo), static_cast<double>(l.hi));
        return buf;
    }
    return {};
}

void STATION_NAME(const F1<char, 120>& SYSDSC1, char (&STNAME)[21]) {
    std::memcpy(STNAME, "NO NAME             ", 21);
    static constexpr int LAST = 114;   // the name search and the name end here
    int start = 0;
    for (int p = 1; p <= LAST && p + 4 <= 120; ++p) {
        if (SYSDSC1(p) == 'N' && SYSDSC1(p + 1) == 'A' && SYSDSC1(p + 2) == 'M' &&
            SYSDSC1(p + 3) == 'E' && SYSDSC1(p + 4) == ' ') {
            start = p + 5;
            break;
        }
    }
    if (start == 0) return;
    int n = 0;
    char name[20];
    for (int p = start; p <= LAST && n < 20; ++p) {
        const char c = SYSDSC1(p);
        if (c == ' ' || c == ',') break;
        name[n++] = c;
    }
    if (n == 0) return;
    std::memset(STNAME, ' ', 20);
    std::memcpy(STNAME, name, static_cast<size_t>(n));
    STNAME[20] = '\0';
}

int FULL_YEAR(int IYR) {
    if (IYR < 70) return IYR + 2000;
    if (IYR < 1000) return IYR + 1900;
    return IYR;
}

std::string ISO_TIME(int IYR, int IDAY, int IHR, int MINU, int ISEC) {
    const int year = FULL_YEAR(IYR);
    const bool leap = (year % 400 == 0) || (year % 4 == 0 && year % 100 != 0);
    static constexpr int MDAYS[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (IDAY < 1 || IDAY > (leap ? 366 : 365)) return {};
    if (IHR < 0 || IHR > 23 || MINU < 0 || MINU > 59 || ISEC < 0 || ISEC > 59) return {};
    int day = IDAY;
    int month = 1;
    for (; month <= 12; ++month) {
        const int len = MDAYS[month - 1] + (month == 2 && leap ? 1 : 0);
        if (day <= len) break;
        day -= len;
    }
    char buf[64];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02dZ", year, month, day, IHR, MINU,
                  ISEC);
    return buf;
}

int16_t DECODE_STAMP(const IonogramRecord& rec, StampInfo& st) {
    st = StampInfo{};
    const F1<char, 120>& TS = rec.TSTAMP;

    // Layout: short stamps are layout 1; 77-character stamps carry a 19-character prefix.
    if (rec.IDX(3) < 77) {
        st.LAYOUT = 1;
    } else if (TS(1) == 'F' && TS(2) == 'F') {
        st.LAYOUT = 2;
        st.IOFF = 19;
    } else if ((TS(1) == 'F' && TS(2) == 'E') || (TS(1) == 'A' && TS(2) == 'A')) {
        st.LAYOUT = 3;
        st.IOFF = 19;
    } else {
        return PREP_LAYOUT;
    }

    // Station code and time: field positions by layout (layout 3 is layout 1 shifted by 19).
    auto d = [&](int p) { return CHAR_NUM(TS(p)); };
    int pcode, pyr, pday, phr, pmin, psec;
    if (st.LAYOUT == 2) {
        pcode = 20; pyr = 5; pday = 7; phr = 14; pmin = 16; psec = 18;
    } else {
        const int o = st.IOFF;
        pcode = 41 + o; pyr = 1 + o; pday = 3 + o; phr = 6 + o; pmin = 8 + o; psec = 10 + o;
    }
    st.ISTNCODE = static_cast<int16_t>(100 * d(pcode) + 10 * d(pcode + 1) + d(pcode + 2));
    st.IYR = static_cast<int16_t>(10 * d(pyr) + d(pyr + 1));
    st.IDAY = static_cast<int16_t>(100 * d(pday) + 10 * d(pday + 1) + d(pday + 2));
    st.IHR = static_cast<int16_t>(10 * d(phr) + d(phr + 1));
    st.MINU = static_cast<int16_t>(10 * d(pmin) + d(pmin + 1));
    st.ISEC = static_cast<int16_t>(10 * d(psec) + d(psec + 1));
    int16_t status = PREP_OK;
    if (st.IDAY < 1 || st.IDAY > 366 || st.IHR < 0 || st.IHR > 23 || st.MINU < 0 ||
        st.MINU > 59 || st.ISEC < 0 || st.ISEC > 59) {
        status = PREP_TIME;
    }

    // Sounder settings; without a step, a bin size and a range start nothing can be placed.
    sounder_settings(st, TS);
    if (status == PREP_OK && (st.FQINCR == 0.0f || st.HGRID == 0.0f || st.BASEHT == -999.0f)) {
        status = PREP_SOUNDER;
    }
    return status;
}

int16_t PREPARE(Zelk& z) {
    IonogramRecord& rec = z.rec;
    inversion::Inversion& inv = z.inv;

    // Missing-height marker of the record's layout version.
    inv.HMISS = rec.IDX(80) >= 4 ? 9999.0f : 999.0f;

    StampInfo st;
    const int16_t stamp = DECODE_STAMP(rec, st);
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

    STATION_NAME(rec.SYSDSC1, inv.STNAME);

    // Scaled characteristics. Entries 1..31 are taken as read; 32..43 hold the results of
    // an earlier analysis and are taken only when the record carries them.
    const F1<float, 120>& S = rec.SCALED;
    for (int k = 1; k <= 31; ++k) inv.CHARIN(k) = S(k);
    inv.FOF2 = S(1);
    inv.FOF1 = S(2) > 999.0f ? NOVAL : S(2);
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
        z.prod.B0 = S(41);
        z.prod.B1 = S(42);
        z.prod.D1 = S(43);
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
    if (!STATION_FAULT(rec).empty()) return PREP_STATION;

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
    auto index_if = [&](float v, float hi) { return (v > 0.0f && v < hi) ? line_of(v, inv.FQINCR) : NOLINE; };
    inv.IFOE = index_if(inv.FOE, 10.0f);
    inv.MINFE = index_if(inv.FMINE, 10.0f);
    inv.IFOM = index_if(inv.FOF2, 50.0f);
    inv.IFOF1 = index_if(inv.FOF1, 50.0f);
    inv.MINFF = index_if(inv.FMINF, 50.0f);
    return PREP_OK;
}

}  // namespace zelk::iondata
