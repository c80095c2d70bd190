// Model critical frequencies of the E, F1 and F2 layers: the IRI formulas for foE and
// foF1, the URSI numerical maps for foF2, and the solar position and geomagnetic dip
// they need. Single precision as the models were published, except where said.
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <ostream>
#include <string>

#include "core/markers.hpp"
#include "core/rounding.hpp"
#include "core/diag.hpp"
#include "core/stop.hpp"
#include "core/fortran_io.hpp"
#include "models/models.hpp"
#include "platform/datafile.hpp"

namespace zelk::models {

namespace {

// Degrees to radians, as the single-precision models use it (pi/180 rounded to float).
static constexpr float DTR = 0.017453292f;
// Radians of hour angle per hour of local time (pi/12).
static constexpr float HUMR = 0.2617994f;

// Days before the first of each month in a common year (index = month), and the year.
static constexpr std::array<int, 14> DAYSBEFORE{0, 0, 31, 59, 90, 120, 151, 181, 212,
                                                243, 273, 304, 334, 365};

// Sunspot number limit of the activity index and of the foF2 map interpolation: the maps
// saturate above it.
static constexpr float RMAX = 150.0f;

// URSI map layout: time harmonics, longitude harmonics + 1, coordinate functions, values
// per function, and the number of modified-dip terms per longitude harmonic 0..8.
static constexpr int32_t IHARM = 6, K1 = 9, MCOORD = 76, MBLOCK = 13;
static constexpr std::array<int32_t, 9> NQTAB{11, 11, 8, 4, 1, 0, 0, 0, 0};

// Height (km) at which the dip and modified dip of the foF2 maps are taken.
static constexpr float HDIP = 300.0f;

// Flags of SOCO for a sun that never sets (+) or never rises (-).
static constexpr float SUNFLAG = 99.0f;

// Reads the 1976 values of a binary URSI file (4-byte little-endian IEEE reals). Returns
// false when the file holds fewer bytes.
bool readbin(std::ifstream& f, F1<float, NF2COEF>& coef) {
    std::array<unsigned char, 4 * NF2COEF> buf{};
    if (!f.read(reinterpret_cast<char*>(buf.data()), static_cast<std::streamsize>(buf.size())))
        return false;
    for (int i = 1; i <= NF2COEF; ++i) {
        const size_t o = 4 * static_cast<size_t>(i - 1);
        const uint32_t u = static_cast<uint32_t>(buf[o]) | static_cast<uint32_t>(buf[o + 1]) << 8 |
                           static_cast<uint32_t>(buf[o + 2]) << 16 |
                           static_cast<uint32_t>(buf[o + 3]) << 24;
        coef(i) = std::bit_cast<float>(u);
    }
    return true;
}

// Reads the 1976 values of a text URSI file: per line one blank column and four values of
// 15 columns (494 lines). Returns false when a line is missing or a field is not a number.
bool readasc(fio::LineReader& f, F1<float, NF2COEF>& coef) {
    const fio::FortranFormat FURSI("(1X,4E15.8)");
    return fio::read_group(f, FURSI, coef.data() + 1, NF2COEF) == fio::IoStat::OK;
}

// Reads the URSI file of month MONTH into F2COEF: the binary file when it can be opened,
// else the text file. Returns 0 when a file was opened and read, 1 when neither opened.
// A file that opens but is short or unreadable stops the run: its model values would be
// garbage.
int32_t readursi(const Models& mod, int16_t MONTH, F1<float, NF2COEF>& coef) {
    const std::string base = "URSI" + fio::edit_value("(I2.2)", MONTH + 10);
    for (const char* ext : {".BIN", ".ASC"}) {
        const std::string name = base + ext;
        const std::string path = mod.data_dirs.empty() ? platform::data_path(name)
                                                      : platform::data_path(name, mod.data_dirs);
        if (path.empty()) continue;
        bool ok = false;
        // A file that is there but cannot be opened is a file that cannot be read, not a
        // missing one.
        if (ext[1] == 'B') {
            std::ifstream f(path, std::ios::binary);
            if (f.is_open()) ok = readbin(f, coef);
        } else {
            fio::LineReader f;
            if (f.open(path)) ok = readasc(f, coef);
        }
        if (!ok) throw Stop(" CAN NOT READ THE URSI COEFFICIENT FILE " + name + "!");
        return 0;
    }
    return 1;
}

// The field model's coefficients G(1..144) (index 0 unused).
static constexpr std::array<float, 145> GFIELD{
    0.0f,
    0.0f, 0.1506723f, 0.0101742f, -0.0286519f, 0.0092606f, -0.0130846f,   // 1..6
    0.0089594f, -0.0136808f, -0.0001508f, -0.0093977f, 0.013065f, 0.002052f,   // 7..12
    -0.0121956f, -0.0023451f, -0.0208555f, 0.0068416f, -0.0142659f, -0.0093322f,   // 13..18
    -0.0021364f, -0.007891f, 0.0045586f, 0.0128904f, -0.0002951f, -0.0237245f,   // 19..24
    0.0289493f, 0.0074605f, -0.0105741f, -0.0005116f, -0.0105732f, -0.0058542f,   // 25..30
    0.0033268f, 0.0078164f, 0.0211234f, 0.0099309f, 0.0362792f, -0.020107f,   // 31..36
    -0.004635f, -0.0058722f, 0.0011147f, -0.0013949f, -0.0108838f, 0.0322263f,   // 37..42
    -0.014739f, 0.0031247f, 0.0111986f, -0.0109394f, 0.0058112f, 0.2739046f,   // 43..48
    -0.0155682f, -0.0253272f, 0.0163782f, 0.020573f, 0.0022081f, 0.0112749f,   // 49..54
    -0.0098427f, 0.0072705f, 0.0195189f, -0.0081132f, -0.0071889f, -0.057997f,   // 55..60
    -0.0856642f, 0.188426f, -0.7391512f, 0.1210288f, -0.0241888f, -0.0052464f,   // 61..66
    -0.0096312f, -0.0044834f, 0.0201764f, 0.0258343f, 0.0083033f, 0.0077187f,   // 67..72
    0.0586055f, 0.0102236f, -0.0396107f, -0.016786f, -0.2019911f, -0.5810815f,   // 73..78
    0.0379916f, 3.750827f, 1.813303f, -0.056425f, -0.0557352f, 0.1335347f,   // 79..84
    -0.0142641f, -0.1024618f, 0.0970994f, -0.075183f, -0.1274948f, 0.0402073f,   // 85..90
    0.038629f, 0.1883088f, 0.183896f, -0.7848989f, 0.7591817f, -0.9302389f,   // 91..96
    -0.856096f, 0.663325f, -4.636387f, -13.25993f, 0.1002136f, 0.0855714f,   // 97..102
    -0.0991981f, -0.0765378f, -0.0455264f, 0.1169326f, -0.2604067f, 0.1800076f,   // 103..108
    -0.2223685f, -0.6347679f, 0.5334222f, -0.3459502f, -0.1573697f, 0.8589464f,   // 109..114
    1.781599f, -6.334764f, -3.151365f, -9.992775f, 13.33276f, -35.48973f,   // 115..120
    37.34663f, -0.5257398f, 0.0571474f, -0.5421217f, 0.240477f, -0.1747774f,   // 121..126
    -0.3433644f, 0.4829708f, 0.3935944f, 0.4885033f, 0.8488121f, -0.7640999f,   // 127..132
    -1.888494f, 3.293078f, -7.349723f, 0.1672821f, -0.2306652f, 10.57821f,   // 133..138
    12.60311f, 8.657974f, 215.521f, -27.14192f, 22.34058f, 1108.639f,   // 139..144
};

}  // namespace

// SOCO: solar declination, zenith angle, sunrise and sunset.
//   Given the day of year IDAY, local time T (h), latitude FLAT and east longitude ELON
//   (degrees; ELON is used as given, 255 and -105 give slightly different results).
//   Returns DECLIN and ZENITH (degrees); SUNRSE and SUNSET in local time (h) for the sun's
//   upper limb at the ground, 99 when the sun never sets that day, -99 when it never rises.
void SOCO(int16_t IDAY, float T, float FLAT, float ELON, float& DECLIN, float& ZENITH,
          float& SUNRSE, float& SUNSET) {
    // Angular frequencies of the annual harmonics 1, 2, 3, 4 and 6 (rad/day).
    static constexpr float P1 = 0.017203534f, P2 = 0.034407068f, P3 = 0.051610602f,
                           P4 = 0.068814136f, P6 = 0.103221204f;
    // Cosine of the zenith angle of sunrise (refraction and the sun's radius, 90.83 deg).
    static constexpr float CH = -0.014485731f;

    const float wlon = 360.0f - ELON;
    const float td = static_cast<float>(IDAY) + (T + wlon / 15.0f) / 24.0f;
    const float te = td + 0.9369f;
    const float dcl = 23.256f * std::sin(P1 * (te - 82.242f)) +
                      0.381f * std::sin(P2 * (te - 44.855f)) +
                      0.167f * std::sin(P3 * (te - 23.355f)) -
                      0.013f * std::sin(P4 * (te + 11.97f)) +
                      0.011f * std::sin(P6 * (te - 10.41f)) + 0.339137f;
    DECLIN = dcl;
    const float dc = dcl * DTR;

    // Equation of time (minutes of time, converted to radians of hour angle).
    const float tf = te - 0.5f;
    const float eqt = -7.38f * std::sin(P1 * (tf - 4.0f)) - 9.87f * std::sin(P2 * (tf + 9.0f)) +
                      0.27f * std::sin(P3 * (tf - 53.0f)) - 0.2f * std::cos(P4 * (tf - 17.0f));
    const float et = eqt * DTR / 4.0f;

    const float fa = FLAT * DTR;
    const float ha = HUMR * (T - 12.0f) + et;
    const float a = std::sin(fa) * std::sin(dc);
    const float b = std::cos(fa) * std::cos(dc);
    float cosx = a + b * std::cos(ha);
    if (std::fabs(cosx) > 1.0f) cosx = std::copysign(1.0f, cosx);
    ZENITH = std::acos(cosx) / DTR;

    // Sunrise and sunset: the hour angle where the zenith angle reaches that of sunrise.
    const float cosphi = (CH - a) / b;
    const float secphi = cosphi != 0.0f ? 1.0f / cosphi : 999999.0f;
    if (secphi > -1.0f && secphi <= 0.0f) {
        SUNRSE = SUNSET = SUNFLAG;
        return;
    }
    if (secphi > 0.0f && secphi < 1.0f) {
        SUNRSE = SUNSET = -SUNFLAG;
        return;
    }
    const float phi = std::acos(std::fmin(cosphi, 1.0f));
    SUNRSE = 12.0f - phi / HUMR - et / HUMR;
    SUNSET = 12.0f + phi / HUMR - et / HUMR;
    if (SUNRSE < 0.0f) SUNRSE += 24.0f;
    if (SUNSET >= 24.0f) SUNSET -= 24.0f;
}

// FOEPIRI: IRI foE (MHz).
//   Given the solar activity index COV, the zenith angle XHI, the noon zenith angle XNOON
//   and the absolute latitude ALAT (degrees).
//   XNOON of 90 or more is set to 89.999 (the caller's variable changes): the seasonal
//   factor needs a positive noon cosine. The zenith angle is smoothed towards 89.98 deg so
//   that foE falls off continuously through sunset; the result has the night floor SMIN.
float FOEPIRI(float COV, float XHI, float& XNOON, float ALAT) {
    const float a = 1.0f + 0.0094f * (COV - 66.0f);
    const float cl = std::cos(ALAT * DTR);
    float sm = 0.0f, c = 0.0f;
    if (ALAT < 32.0f) {
        sm = -1.93f + 1.92f * cl;
        c = 23.0f + 116.0f * cl;
    } else {
        sm = 0.11f - 0.49f * cl;
        c = 92.0f + 35.0f * cl;
    }
    if (XNOON >= 90.0f) XNOON = 89.999f;
    const float b = std::pow(std::cos(XNOON * DTR), sm);
    const float sp = ALAT > 12.0f ? 1.2f : 1.31f;
    const float xhic = XHI - 3.0f * std::log(1.0f + std::exp((XHI - 89.98f) / 3.0f));
    const float d = std::pow(std::cos(xhic * DTR), sp);
    float f4 = a * b * c * d;
    const float s = 0.121f + 0.0015f * (COV - 60.0f);
    const float smin = s * s;
    if (f4 < smin) f4 = smin;
    return std::pow(f4, 0.25f);
}

// FOF1ED: IRI foF1 (MHz).
//   Given the absolute dip latitude YLATI (degrees), the sunspot number R (not limited)
//   and the zenith angle CHI (degrees).
//   Returns 0 when CHI exceeds the F1 limit, which moves with R.
float FOF1ED(float YLATI, float R, float CHI) {
    const float chi0 = 49.84733f + 0.349504f * YLATI;
    const float chi100 = 38.96113f + 0.509932f * YLATI;
    const float chim = chi0 + (chi100 - chi0) * R / 100.0f;
    if (CHI > chim) return 0.0f;
    const float f0 = 4.35f + YLATI * (0.0058f - 0.00012f * YLATI);
    const float f100 = 5.348f + YLATI * (0.011f - 0.00023f * YLATI);
    const float fs = f0 + (f100 - f0) * R / 100.0f;
    const float xmue = 0.093f + YLATI * (0.0046f - 0.000054f * YLATI) + 0.0003f * R;
    return fs * std::pow(std::cos(CHI * DTR), xmue);
}

// FIELDG: geomagnetic dip and modified dip (degrees).
//   Given latitude DLAT, longitude DLONG (degrees) and altitude ALT (km).
//   The field is the fixed expansion G(1..144) (degree 11), summed by a Clenshaw-type
//   recurrence in the Cartesian coordinates of the point on the reference ellipsoid.
//   Sine arguments are limited to [-1, 1].
void FIELDG(float DLAT, float DLONG, float ALT, float& DIP, float& MODIP) {
    // Ellipsoid constants (km^2) and the reference radius (km).
    static constexpr float ERA2 = 40680925.0f, ERA2MB2 = 272336.0f, ERB2 = 40408589.0f;
    static constexpr float RE = 6371.2f;
    static constexpr int NMAX = 11;

    std::array<float, 145> h{};
    const float rlat = DLAT * DTR;
    const float ct = std::sin(rlat);
    const float st = std::cos(rlat);
    const float d = std::sqrt(ERA2 - ERA2MB2 * ct * ct);
    const float rlo = DLONG * DTR;
    const float cp = std::cos(rlo);
    const float sp = std::sin(rlo);
    const float zzz = (ALT + ERB2 / d) * ct / RE;
    const float rho = (ALT + ERA2 / d) * st / RE;
    const float xxx = rho * cp;
    const float yyy = rho * sp;
    const float rq = 1.0f / (xxx * xxx + yyy * yyy + zzz * zzz);
    const float xi1 = xxx * rq, xi2 = yyy * rq, xi3 = zzz * rq;
    const int ihmax = NMAX * NMAX + 1;
    const int last = ihmax + NMAX + NMAX;
    for (int i = ihmax; i <= last; ++i) h[static_cast<size_t>(i)] = GFIELD[static_cast<size_t>(i)];

    auto H = [&h](int i) -> float& { return h[static_cast<size_t>(i)]; };
    auto G = [](int i) { return GFIELD[static_cast<size_t>(i)]; };
    // Two passes (K = 1, 3); each runs I from 2*NMAX-1 down by 2, at most NMAX times.
    for (int k = 1; k <= 3; k += 2) {
        int i = NMAX + NMAX - 1;
        int ih = ihmax;
        do {
            const int il = ih - i;
            const float f = 2.0f / static_cast<float>(i - k + 2);
            const float x1 = xi1 * f;
            const float y1 = xi2 * f;
            const float z1 = 2.0f * xi3 * f;
            i -= 2;
            if (i > 1) {
                for (int m = 3; m <= i; m += 2) {
                    H(il + m + 1) = G(il + m + 1) + z1 * H(ih + m + 1) +
                                    x1 * (H(ih + m + 3) - H(ih + m - 1)) -
                                    y1 * (H(ih + m + 2) + H(ih + m - 2));
                    H(il + m) = G(il + m) + z1 * H(ih + m) +
                                x1 * (H(ih + m + 2) - H(ih + m - 2)) +
                                y1 * (H(ih + m + 3) + H(ih + m - 1));
                }
            }
            if (i >= 1) {
                H(il + 2) = G(il + 2) + z1 * H(ih + 2) + x1 * H(ih + 4) -
                            y1 * (H(ih + 3) + H(ih));
                H(il + 1) = G(il + 1) + z1 * H(ih + 1) + y1 * H(ih + 4) +
                            x1 * (H(ih + 3) - H(ih));
            }
            H(il) = G(il) + z1 * H(ih) + 2.0f * (x1 * H(ih + 1) + y1 * H(ih + 2));
            ih = il;
        } while (i >= k);
    }

    const float s = 0.5f * H(1) + 2.0f * (H(2) * xi3 + H(3) * xi1 + H(4) * xi2);
    const float t = (rq + rq) * std::sqrt(rq);
    const float bx = t * (H(3) - s * xxx);
    const float by = t * (H(4) - s * yyy);
    const float bz = t * (H(2) - s * zzz);
    const float f = std::sqrt(bx * bx + by * by + bz * bz);
    const float brh0 = by * sp + bx * cp;
    const float down = -bz * ct - brh0 * st;
    const float dipdiv = down / f;
    const float dip = std::asin(std::fmax(-1.0f, std::fmin(1.0f, dipdiv)));
    DIP = dip / DTR;
    const float smodip = dip / std::sqrt(dip * dip + st);
    MODIP = std::asin(std::fmax(-1.0f, std::fmin(1.0f, smodip))) / DTR;
}

// GAMMA1: URSI map value (MHz).
//   Given the modified dip SMODIP, latitude SLAT, longitude SLONG (degrees), universal
//   time HOUR (h), the map layout (IHARM time harmonics, NQ(1..K1) modified-dip terms per
//   longitude harmonic, M coordinate functions of MM values) and the set SFE(1..M3).
//   The time series and the sum are accumulated in double precision; the coordinate
//   functions (powers of sin(modip), powers of cos(lat), harmonics of longitude) in single.
//   The layout must fit: M <= 76, 2 * IHARM + 1 <= MM, M * MM <= M3 <= 1976, and the NQ
//   terms must use no more than M functions; otherwise 0 is returned.
float GAMMA1(float SMODIP, float SLAT, float SLONG, float HOUR, int32_t IHARMIN,
             const F1<int32_t, 9>& NQ, int32_t K1IN, int32_t M, int32_t MM, int32_t M3,
             const F1<float, NF2COEF>& SFE) {
    static constexpr int MAXH = 12, MAXC = 100;
    int32_t nterms = NQ(1) + 1;
    for (int32_t j = 2; j <= K1IN && j <= 9; ++j) nterms += 2 * (NQ(j) + 1);
    if (IHARMIN < 1 || IHARMIN > MAXH || K1IN < 1 || K1IN > 9 || M < 1 || M > MAXC ||
        MM < 2 * IHARMIN + 1 || static_cast<int64_t>(M) * MM > M3 || M3 > NF2COEF ||
        nterms > M || NQ(1) < 0 || NQ(1) > MAXH)
        return 0.0f;

    std::array<double, MAXH + 1> cs{}, sn{};
    const double hou = (15.0 * static_cast<double>(HOUR) - 180.0) * static_cast<double>(DTR);
    sn[1] = std::sin(hou);
    cs[1] = std::cos(hou);
    for (int i = 2; i <= IHARMIN; ++i) {
        cs[static_cast<size_t>(i)] = cs[1] * cs[static_cast<size_t>(i - 1)] - sn[1] * sn[static_cast<size_t>(i - 1)];
        sn[static_cast<size_t>(i)] = cs[1] * sn[static_cast<size_t>(i - 1)] + sn[1] * cs[static_cast<size_t>(i - 1)];
    }
    std::array<double, MAXC + 1> coef{};
    for (int i = 1; i <= M; ++i) {
        const int mi = (i - 1) * MM;
        double c = SFE(mi + 1);
        for (int j = 1; j <= IHARMIN; ++j)
            c = c + SFE(mi + 2 * j) * sn[static_cast<size_t>(j)] +
                SFE(mi + 2 * j + 1) * cs[static_cast<size_t>(j)];
        coef[static_cast<size_t>(i)] = c;
    }

    // Powers of sin(modip): xsinx[l] = x^l.
    std::array<float, MAXH + 2> xsinx{};
    double sum = coef[1];
    float ss = std::sin(SMODIP * DTR);
    const float s3 = ss;
    xsinx[0] = 1.0f;
    for (int j = 1; j <= NQ(1); ++j) {
        sum = sum + coef[static_cast<size_t>(1 + j)] * ss;
        xsinx[static_cast<size_t>(j)] = ss;
        ss = ss * s3;
    }
    xsinx[static_cast<size_t>(NQ(1) + 1)] = ss;

    // Longitude harmonics m = 1..K1-1, weighted by cos(lat)^m.
    int np = NQ(1) + 1;
    float w = std::cos(SLAT * DTR);
    const float wc = w;
    for (int j = 2; j <= K1IN; ++j) {
        const float s0 = SLONG * static_cast<float>(j - 1) * DTR;
        const float c1 = std::cos(s0);
        const float s1 = std::sin(s0);
        for (int l = 0; l <= NQ(j) && l <= NQ(1) + 1; ++l) {
            ++np;
            sum = sum + coef[static_cast<size_t>(np)] * xsinx[static_cast<size_t>(l)] * w * c1;
            ++np;
            sum = sum + coef[static_cast<size_t>(np)] * xsinx[static_cast<size_t>(l)] * w * s1;
        }
        w = w * wc;
    }
    return static_cast<float>(sum);
}

// CALPREDF: model foE, foF1 and foF2 (MHz, each rounded to 0.001 MHz).
//   Given latitude LATI, longitude LONGI (degrees), MONTH, day of year IDAY, universal
//   time IHR:MINU:ISEC, the sunspot number RSSN and IDEBUG.
//   Returns FOE; FOF1, or 9999.0 by night, beyond the F1 limit, or when not above foE;
//   FOF2, or 9999.0 when no coefficient file could be opened; ISTATUS 0 when the
//   coefficients are available, 1 when neither URSI file of the month opened.
//   The activity index and the map use RSSN limited to 150; foF1 uses RSSN as given.
//   Reads and writes mod.F2COEF, COEFMON, COEFSSN: the month's file is read only when the
//   month or the limited sunspot number changed. Stops (zelk::Stop) when a file that opens
//   cannot be read completely. Writes the solar listing to OUT when IDEBUG <= -11.
void CALPREDF(Models& mod, std::ostream& out, float LATI, float LONGI, int16_t MONTH,
              int16_t IDAY, int16_t IHR, int16_t MINU, int16_t ISEC, float RSSN,
              int16_t IDEBUG, float& FOE, float& FOF1, float& FOF2, int32_t& ISTATUS) {
    ISTATUS = 0;
    const float ut = static_cast<float>(IHR) + static_cast<float>(MINU) / 60.0f +
                     static_cast<float>(ISEC) / 3600.0f;
    float lt = ut + LONGI / 15.0f;
    if (lt < 0.0f) lt += 24.0f;
    if (lt >= 24.0f) lt -= 24.0f;

    // Zenith angle now and at local noon; sunrise and sunset from the noon call.
    float decl = 0.0f, xhi = 0.0f, xnoon = 0.0f, srise = 0.0f, sset = 0.0f;
    SOCO(IDAY, lt, LATI, LONGI, decl, xhi, srise, sset);
    SOCO(IDAY, 12.0f, LATI, LONGI, decl, xnoon, srise, sset);

    const float r = std::fmin(RSSN, RMAX);
    const float cov = 63.75f + r * (0.728f + 0.00089f * r);
    FOE = round3(FOEPIRI(cov, xhi, xnoon, std::fabs(LATI)));

    // Night: polar night (-99), or local time outside sunrise..sunset (the interval wraps
    // through midnight when sunrise comes after sunset in local time).
    bool night = false;
    if (std::fabs(srise) > 25.0f) {
        night = srise < 0.0f;
    } else if (srise > sset) {
        night = lt > sset && lt < srise;
    } else {
        night = lt > sset || lt < srise;
    }

    float dip = 0.0f, modip = 0.0f;
    FIELDG(LATI, LONGI, HDIP, dip, modip);
    const float diplat = std::fabs(std::atan(0.5f * std::tan(dip * DTR))) / DTR;

    FOF1 = NO_VALUE;
    if (!night) {
        const float v = round3(FOF1ED(diplat, RSSN, xhi));
        if (v > FOE) FOF1 = v;
    }

    FOF2 = NO_VALUE;
    if (MONTH != mod.COEFMON || r != mod.COEFSSN) {
        ISTATUS = readursi(mod, MONTH, mod.F2COEF);
        if (ISTATUS == 0) {
            // Linear in the sunspot number between the sets for 0 and 100 (beyond 100 an
            // extrapolation up to the limit of 150).
            const float w100 = r / 100.0f;
            for (int i = 1; i <= NF2SET; ++i)
                mod.F2COEF(i) = (1.0f - w100) * mod.F2COEF(i) + w100 * mod.F2COEF(NF2SET + i);
            mod.COEFMON = MONTH;
            mod.COEFSSN = r;
        }
    }
    if (ISTATUS == 0) {
        F1<int32_t, 9> nq;
        for (int i = 1; i <= 9; ++i) nq(i) = NQTAB[static_cast<size_t>(i - 1)];
        FOF2 = round3(GAMMA1(modip, LATI, LONGI, ut, IHARM, nq, K1, MCOORD, MBLOCK, NF2SET,
                             mod.F2COEF));
    }

    if (IDEBUG <= -11) {
        const float sun[5] = {lt, xhi, xnoon, srise, sset};
        out << ' ' << fio::edit_value("(I2.2)", IHR % 100) << ':'
            << fio::edit_value("(I2.2)", MINU % 100) << " LT,XHI,XNOON,SRISE,SSET="
            << fio::edit_line(fio::FortranFormat("(5F8.3)"), sun, 5) << '\n';
    }
}

// PREDICT: model foE, foF1, foF2 of the record.
//   Given the station LATI, LONGI (degrees), the year IYR (2 or 4 digits), day of year
//   IDAY and universal time IHR:MINU:ISEC.
//   Sets mod.IYEAR from IYR when IYEAR is 0 or equals IYR (a 2-digit year above 70 is
//   19xx, 70 and below 20xx), then IMON and IDOM (a day past the year's end counts as
//   December); looks up the sunspot number into ISSN (truncated) when IMON differs from
//   LASTMON; writes FOEPRE, FOF1PRE, FOF2PRE. Writes the predictions to log.os() when
//   IDEBUG <= -6.
//   Stops (zelk::Stop) with " CAN NOT FIND THE URSI COEFFICIENT FILES!" (also written to
//   log.os()) when neither file of the month opens, or from the sunspot lookup.
void PREDICT(Models& mod, const Log& log, float LATI, float LONGI, int16_t IYR,
             int16_t IDAY, int16_t IHR, int16_t MINU, int16_t ISEC) {
    if (mod.IYEAR == 0 || mod.IYEAR == IYR) {
        int y = IYR;
        if (IYR < 1000) y = IYR > 70 ? IYR + 1900 : IYR + 2000;
        mod.IYEAR = static_cast<int16_t>(y);
    }
    const int leap =
        (mod.IYEAR % 400 == 0 || (mod.IYEAR % 4 == 0 && mod.IYEAR % 100 != 0)) ? 1 : 0;
    int mon = 2;
    if (IDAY <= DAYSBEFORE[2]) {
        mon = 1;
    } else {
        for (int m = 12; m >= 3; --m) {
            if (IDAY > DAYSBEFORE[static_cast<size_t>(m)] + leap) {
                mon = m;
                break;
            }
        }
    }
    mod.IMON = static_cast<int16_t>(mon);
    if (mon == 1)
        mod.IDOM = IDAY;
    else if (mon == 2)
        mod.IDOM = static_cast<int16_t>(IDAY - DAYSBEFORE[2]);
    else
        mod.IDOM = static_cast<int16_t>(IDAY - DAYSBEFORE[static_cast<size_t>(mon)] - leap);

    if (mod.IMON != mod.LASTMON) {
        mod.LASTMON = mod.IMON;
        float ssn = 0.0f;
        SSN_NOAA(mod, log.os(), mod.IYEAR, mod.IMON, ssn, mod.SSNDEVOUT);
        // A month without a value (the no-value marker) keeps the sunspot number the
        // record carries, as the inversion entry does, rather than a sunspot number of -1.
        if (ssn >= 0.0f) mod.ISSN = static_cast<int16_t>(std::trunc(ssn));
    }

    float foe = 0.0f, fof1 = 0.0f, fof2 = 0.0f;
    int32_t istatus = 0;
    CALPREDF(mod, log.os(), LATI, LONGI, mod.IMON, IDAY, IHR, MINU, ISEC,
             static_cast<float>(mod.ISSN), log.IDEBUG, foe, fof1, fof2, istatus);
    if (istatus != 0) {
        constexpr char msg[] = " CAN NOT FIND THE URSI COEFFICIENT FILES!";
        log.os() << msg << '\n';
        throw Stop(msg);
    }
    mod.FOEPRE = foe;
    mod.FOF1PRE = fof1;
    mod.FOF2PRE = fof2;
    if (log.IDEBUG <= -6) {
        const float pre[3] = {foe, fof1, fof2};
        log.os() << " IRI FOE, FOF1, FOF2 PREDICTIONS:"
                 << fio::edit_line(fio::FortranFormat("(3F7.3)"), pre, 3) << '\n';
    }
}

}  // namespace zelk::models
