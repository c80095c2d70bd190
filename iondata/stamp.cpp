// Decoding of the time stamp and the system description of a record.
#include "iondata/stamp.hpp"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

namespace zelk::iondata {

namespace {

// Frequency step, height step and range start from the time stamp (see prepare).
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

const char* prep_text(int16_t status) {
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

std::string station_fault(const IonogramRecord& rec) {
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

void station_name(const F1<char, 120>& SYSDSC1, char (&STNAME)[21]) {
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

int full_year(int IYR) {
    if (IYR < 70) return IYR + 2000;
    if (IYR < 1000) return IYR + 1900;
    return IYR;
}

std::string iso_time(int IYR, int IDAY, int IHR, int MINU, int ISEC) {
    const int year = full_year(IYR);
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

int16_t decode_stamp(const IonogramRecord& rec, StampInfo& st) {
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

}  // namespace zelk::iondata
