// Making a record writable in layout 5.
#include "core/markers.hpp"
#include "iondata/writable.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/fortran_io.hpp"
#include "iondata/vxo.hpp"

namespace zelk::iondata {

namespace {

using fio::EditField;
using fio::FortranFormat;
using fio::edit_int;
using fio::edit_real;

constexpr float DENSITY_PER_MHZ2 = 12380.0f;   // as WRITVXO computes the densities

// True when the value written under the field reads back: finite and not asterisks.
template <class T>
bool holds(const EditField& fd, T v) {
    char buf[FortranFormat::MAX_WIDTH];
    if constexpr (std::is_same_v<T, int32_t>) {
        edit_int(buf, fd, v);
    } else {
        if (!std::isfinite(v)) return false;
        edit_real(buf, fd, v);
    }
    return std::find(buf, buf + fd.w, '*') == buf + fd.w;
}

class Checker {
public:
    Checker(IonogramRecord& r, std::vector<Unwritable>& missing) : r_(r), missing_(missing) {}

    // Count of group g as WRITVXO writes it.
    int count(int g) const {
        if (g == 8 || g == 13 || g == 18) return 0;
        return std::clamp(r_.IDX(g), 0, vxo_capacity(g, VXO_VERSION_OUT));
    }
    // The first value of group g (n values) that does not fit, or 0.
    template <class T>
    int first_unfit(const FortranFormat& f, const T* v1, int n) const {
        for (int i = 1; i <= n; ++i) {
            if (!holds(f.field((i - 1) % f.per_line()), v1[i])) return i;
        }
        return 0;
    }
    // Sets every value of the group that does not fit to `replace`.
    template <class T>
    void mend(int g, const FortranFormat& f, T* v1, int n, T replace) {
        for (int i = 1; i <= n; ++i) {
            if (!holds(f.field((i - 1) % f.per_line()), v1[i])) {
                missing_.push_back({g, i, static_cast<double>(v1[i])});
                v1[i] = replace;
            }
        }
    }
    template <class T>
    void mend(int g, const FortranFormat& f, T* v1) {
        if constexpr (std::is_same_v<T, int32_t>) {
            mend(g, f, v1, count(g), 0);
        } else {
            mend(g, f, v1, count(g), static_cast<T>(NO_VALUE));
        }
    }
    // A profile: heights and plasma frequencies, and the densities made from the latter.
    void profile(int gh, int gf, int gd, const FortranFormat& fh, const FortranFormat& ff,
                 const FortranFormat& fd, float* h1, float* f1) {
        mend(gh, fh, h1, count(gh), NO_VALUE);
        const int nf = count(gf), nd = count(gd);
        for (int i = 1; i <= std::max(nf, nd) && i <= 999; ++i) {
            const bool f_ok = i > nf || holds(ff.field((i - 1) % ff.per_line()), f1[i]);
            const bool d_ok = i > nd || holds(fd.field((i - 1) % fd.per_line()),
                                              DENSITY_PER_MHZ2 * (f1[i] * f1[i]));
            if (!f_ok || !d_ok) {
                missing_.push_back({f_ok ? gd : gf, i, static_cast<double>(f_ok ? DENSITY_PER_MHZ2 * (f1[i] * f1[i]) : f1[i])});
                f1[i] = 0.0f;
            }
        }
    }

private:
    IonogramRecord& r_;
    std::vector<Unwritable>& missing_;
};

}  // namespace

std::string unwritable_text(const Unwritable& u) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "group %d value %d (%.6g)", u.group, u.element, u.value);
    return buf;
}

bool make_writable(IonogramRecord& R, std::vector<Unwritable>& missing, Unwritable& fatal) {
    const VxoFormats& F = vxo_formats(VXO_VERSION_OUT);
    Checker c(R, missing);

    // Station constants and the Doppler table first: nothing is changed when they fail.
    if (const int i = c.first_unfit(F.constants, R.GCONST.data(), c.count(1))) {
        fatal = {1, i, static_cast<double>(R.GCONST(i))};
        return false;
    }
    if (const int i = c.first_unfit(F.constants, R.DOPTAB.data(), c.count(6))) {
        fatal = {6, i, static_cast<double>(R.DOPTAB(i))};
        return false;
    }

    c.mend(4, F.characteristics, R.SCALED.data());
    c.mend(5, F.flags, R.AFLAGS.data());
    // Traces: virtual heights, amplitudes, Doppler numbers, frequencies.
    c.mend(7, F.heights, R.VHOF2.data());
    c.mend(9, F.amplitudes, R.IAMOF2.data());
    c.mend(10, F.digits, R.IDNOF2.data());
    c.mend(11, F.frequencies, R.FQOF2.data());
    c.mend(12, F.heights, R.VHOF1.data());
    c.mend(14, F.amplitudes, R.IAMOF1.data());
    c.mend(15, F.digits, R.IDNOF1.data());
    c.mend(16, F.frequencies, R.FQOF1.data());
    c.mend(17, F.heights, R.VHOE.data());
    c.mend(19, F.amplitudes, R.IAMOE.data());
    c.mend(20, F.digits, R.IDNOE.data());
    c.mend(21, F.frequencies, R.FQOE.data());
    c.mend(22, F.heights, R.VHXF2.data());
    c.mend(23, F.amplitudes, R.IAMXF2.data());
    c.mend(24, F.digits, R.IDNXF2.data());
    c.mend(25, F.frequencies, R.FQXF2.data());
    c.mend(26, F.heights, R.VHXF1.data());
    c.mend(27, F.amplitudes, R.IAMXF1.data());
    c.mend(28, F.digits, R.IDNXF1.data());
    c.mend(29, F.frequencies, R.FQXF1.data());
    c.mend(30, F.heights, R.VHXE.data());
    c.mend(31, F.amplitudes, R.IAMXE.data());
    c.mend(32, F.digits, R.IDNXE.data());
    c.mend(33, F.frequencies, R.FQXE.data());
    c.mend(34, F.flags, R.MAMPF.data());
    c.mend(35, F.flags, R.MAMPE.data());
    c.mend(36, F.flags, R.MAMPES.data());
    c.mend(37, F.coefficients, R.PCOEF2.data());
    c.mend(38, F.coefficients, R.PCOEF1.data());
    c.mend(39, F.coefficients, R.PCOEFE.data());
    c.mend(40, F.segments, R.QPSEGS.data());
    c.mend(41, F.digits, R.EDITCH.data());
    c.mend(42, F.coefficients, R.VALLEY.data());
    c.mend(43, F.heights, R.VHOES.data());
    c.mend(44, F.amplitudes, R.IAMOES.data());
    c.mend(45, F.digits, R.IDNOES.data());
    c.mend(46, F.frequencies, R.FQOES.data());
    c.mend(47, F.heights, R.VHOEA.data());
    c.mend(48, F.amplitudes, R.IAMOEA.data());
    c.mend(49, F.digits, R.IDNOEA.data());
    c.mend(50, F.frequencies, R.FQOEA.data());
    if (c.count(51) > 0) {
        c.profile(51, 52, 53, F.characteristics, F.characteristics, F.profile, R.PRFHT.data(), R.PRFFN.data());
    }
    c.mend(56, F.digits, R.EDITFL.data());
    c.mend(57, F.coefficients, R.VALDSC.data());
    if (c.count(58) > 0) {
        c.profile(58, 59, 60, F.profile, F.profile, F.profile, R.AUXHT.data(), R.AUXFN.data());
    }
    return true;
}

}  // namespace zelk::iondata
